// What the handset sends: the items of a transfer after its count query, one
// per acknowledgement, and a stored file for a file download.
#include "handset/impl.h"

namespace handset {

std::vector<Frame> Handset::Impl::NaturalItems(unsigned group) const {
  std::vector<Frame> out;
  unsigned op = TransferOperation(group);
  auto add = [&](std::string payload) { out.push_back({3, group, op, std::move(payload)}); };
  switch (group) {
    case kGroupFiles:
      for (const StoredFile& f : content.files) {
        std::uintmax_t size = f.data.size();
        for (const Spilled& s : spilled)
          if (s.name == f.name && s.wire == f.wire) size = s.size;
        add(ListingItem(f, size));
      }
      break;
    case kGroupBookmarks:
      for (const Bookmark& b : content.bookmarks) add(BookmarkRecord(b));
      break;
    case kGroupAddress:
      for (const std::string& c : content.addresses) add(c);
      break;
    case kGroupLightMail:
      for (const MailItem& m : content.lightMails) add(MailRecord(m));
      break;
    case kGroupMail:
      for (const MailItem& m : content.mails) add(MailRecord(m));
      break;
  }
  return out;
}

void Handset::Impl::SendNextItem() {
  if (pending.empty()) {
    awaitingAck = false;
    return;
  }
  Frame f = std::move(pending.front());
  pending.pop_front();
  int item = nextItem++;
  awaitingAck = true;
  if (!Send(f, transferKey, transferNth, item)) {
    pending.clear();
    awaitingAck = false;
  }
}

void Handset::Impl::Count(const LoggedRequest& r, int nth) {
  if (!r.payload.empty()) Violation("count query with a payload: " + Show(r.payload));
  std::vector<Frame> items;
  {
    std::lock_guard<std::mutex> lock(mu);
    items = ItemsLocked(r.group);
  }
  std::string count = std::to_string(items.size());
  snapshots[r.group] = std::move(items);
  {
    std::lock_guard<std::mutex> lock(mu);
    overriddenAtCount[r.group] = itemOverrides.count(r.group) > 0;
  }
  Reply(r, count, nth);
}

void Handset::Impl::Transfer(const LoggedRequest& r, int nth) {
  if (!r.payload.empty()) Violation("transfer request with a payload: " + Show(r.payload));
  auto it = snapshots.find(r.group);
  if (it == snapshots.end()) {
    Violation("transfer of group " + std::to_string(r.group) + " without a count query");
    std::lock_guard<std::mutex> lock(mu);
    snapshots[r.group] = ItemsLocked(r.group);
    it = snapshots.find(r.group);
  }
  if (it->second.empty()) Violation("transfer request after a count of 0");
  pending.assign(it->second.begin(), it->second.end());
  snapshots.erase(it);
  transferBent = overriddenAtCount[r.group];
  transferKey = Key(r.code, r.group, r.operation);
  transferNth = nth;
  nextItem = 0;
  SendNextItem();
}

void Handset::Impl::FileDownload(const LoggedRequest& r, int nth) {
  // name TAB wire TAB, nothing after.
  std::size_t t1 = r.payload.find('\t');
  std::size_t t2 = t1 == std::string::npos ? t1 : r.payload.find('\t', t1 + 1);
  if (t2 == std::string::npos || t2 + 1 != r.payload.size()) {
    Violation("file download payload is not name TAB wire TAB: " + Show(r.payload));
    Reply(r, "", nth);
    return;
  }
  std::string name = r.payload.substr(0, t1), wire = r.payload.substr(t1 + 1, t2 - t1 - 1);
  if (WireIndex(wire) < 0) Violation("file download of unknown category: " + Show(wire));
  // The echo, then the file from where it lies: no stored file can be
  // replaced while filesMu is held.
  std::lock_guard<std::mutex> serving(filesMu);
  const StoredFile* found = nullptr;
  {
    std::lock_guard<std::mutex> lock(mu);
    LoadSpilledLocked();
    for (const StoredFile& f : content.files)
      if (f.name == name && f.wire == wire) found = &f;
  }
  if (found)
    Reply(r, r.payload, nth, &found->data);
  else
    Reply(r, "", nth);  // an echo that does not match
}

}  // namespace handset
