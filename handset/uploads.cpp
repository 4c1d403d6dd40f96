// What the handset takes: upload items (stored, or refused with the reason
// recorded) and the bulk uploads' start, preparation and end.
#include <algorithm>
#include <filesystem>

#include "handset/impl.h"

namespace handset {

void Handset::Impl::UploadItem(LoggedRequest& r, int nth) {
  unsigned g = r.group;
  int index = uploadCounts[g]++;
  {
    std::string refusal;
    bool refused = false;
    {
      std::lock_guard<std::mutex> lock(mu);
      for (const Refusal& x : refusals)
        if (x.group == g && x.index == index) {
          refused = true;
          refusal = x.reply;
        }
    }
    if (refused) {
      Trace("refusing upload item " + std::to_string(index));
      Reply(r, refusal, nth);
      return;
    }
  }
  std::string why;
  bool ok = false;
  if (g == kGroupFiles) {
    std::size_t t1 = r.payload.find('\t');
    std::size_t t2 = t1 == std::string::npos ? t1 : r.payload.find('\t', t1 + 1);
    if (t2 == std::string::npos) {
      why = "file upload without name TAB wire TAB";
    } else {
      StoredFile f;
      f.name = r.payload.substr(0, t1);
      f.wire = r.payload.substr(t1 + 1, t2 - t1 - 1);
      // The data keeps the request's buffer: no second copy of a large file.
      f.data = std::move(r.payload);
      f.data.erase(0, t2 + 1);
      f.date = NowDate();
      bool badName = f.name.empty() || f.name == "." || f.name == ".." ||
                     f.name.find_first_of("/\\") != std::string::npos;
      for (char c : f.name) badName = badName || static_cast<unsigned char>(c) < 32;
      if (badName) {
        // A handset refuses such a name as it refuses any item it cannot
        // store: an answer, not a fault of the program's protocol. A byte
        // 5C anywhere is a separator to it, the trail byte of "ソ" too.
        Trace("refusing a file name it cannot store: " + Show(f.name));
        Reply(r, "1", nth);
        return;
      } else if (WireIndex(f.wire) < 0) {
        why = "file upload of unknown category: " + Show(f.wire);
      } else if (f.wire != kWireNames[CategoryOfName(f.name)]) {
        why = "file upload of " + Show(f.name) + " as " + f.wire + ", its extension says " +
              kWireNames[CategoryOfName(f.name)];
      } else {
        const std::string name = f.name;
        const bool streamed = spill.ready;
        bool stored = true;
        {
          std::lock_guard<std::mutex> serving(filesMu);
          std::lock_guard<std::mutex> lock(mu);
          std::erase_if(spilled,
                        [&](const Spilled& s) { return s.name == f.name && s.wire == f.wire; });
          if (streamed) {  // its bytes are on disk already: move them into place
            const std::filesystem::path to = folder / "files" / f.wire / f.name;
            std::error_code ec;
            std::filesystem::create_directories(to.parent_path(), ec);
            std::filesystem::rename(spill.path, to, ec);
            stored = !spill.failed && !ec;
            if (stored) {
              spilled.push_back({f.name, f.wire, to, spill.size});
              spill.path.clear();
            }
          } else {
            stored = !hasFolder || SaveStoredFile(folder, f);
          }
          // A streamed file that could not be stored is nowhere: not kept.
          if (stored || !streamed) {
            StoredFile* slot = nullptr;
            for (StoredFile& old : content.files)
              if (old.name == f.name && old.wire == f.wire) slot = &old;
            if (slot)
              *slot = std::move(f);
            else
              content.files.push_back(std::move(f));
          }
        }
        // Trace takes the lock itself.
        if (!stored) Trace("cannot store " + Show(name));
        if (!stored && streamed) {
          Reply(r, "1", nth);
          return;
        }
        ok = true;
      }
    }
  } else if (g == kGroupBookmarks || g == kGroupAddress) {
    if (!bulkStarted[g] || !bulkPrepared[g]) {
      why = "upload record outside a started and prepared bulk upload";
    } else if (g == kGroupBookmarks) {
      Bookmark b;
      if (BookmarkFromRecord(r.payload, &b, &why)) {
        if (std::find(bulkNumbers.begin(), bulkNumbers.end(), b.number) != bulkNumbers.end()) {
          why = "memory number " + std::to_string(b.number) + " sent twice";
        } else {
          bulkNumbers.push_back(b.number);
          std::lock_guard<std::mutex> lock(mu);
          content.bookmarks.push_back(b);
          if (hasFolder) SaveBookmarks(folder, content.bookmarks);
          ok = true;
        }
      }
    } else if (CheckVCardRecord(r.payload, &why)) {
      std::lock_guard<std::mutex> lock(mu);
      content.addresses.push_back(r.payload);
      if (hasFolder) SaveAddresses(folder, content.addresses);
      ok = true;
    }
  } else {  // light mail or mail
    MailItem m;
    if (MailFromRecord(r.payload, g == kGroupLightMail, &m, &why)) {
      std::lock_guard<std::mutex> lock(mu);
      (m.light ? content.lightMails : content.mails).push_back(m);
      if (hasFolder) SaveMail(folder, m);
      ok = true;
    }
  }
  if (!ok)
    Violation("upload item " + std::to_string(index) + " of group " + std::to_string(g) +
              " refused: " + why);
  Reply(r, ok ? "0" : "1", nth);
}

void Handset::Impl::Bulk(const LoggedRequest& r, int nth) {
  unsigned g = r.group;
  const char* start = g == kGroupBookmarks ? "13" : "10";
  bool ok = true;
  switch (r.operation) {
    case 4:
      if (r.payload != start) {
        Violation("bulk upload start of group " + std::to_string(g) + " with payload " +
                  Show(r.payload));
        ok = false;
        break;
      }
      if (bulkStarted[g]) Violation("bulk upload started twice");
      bulkStarted[g] = true;
      bulkPrepared[g] = false;
      bulkNumbers.clear();
      {
        // An upload replaces the whole set; what it sends stays, even when
        // a later item is refused.
        std::lock_guard<std::mutex> lock(mu);
        if (g == kGroupBookmarks) {
          content.bookmarks.clear();
          if (hasFolder) SaveBookmarks(folder, content.bookmarks);
        } else {
          content.addresses.clear();
          if (hasFolder) SaveAddresses(folder, content.addresses);
        }
      }
      break;
    case 5:
      if (!r.payload.empty()) Violation("bulk upload preparation with a payload");
      if (!bulkStarted[g] || bulkPrepared[g]) {
        Violation("bulk upload preparation out of order");
        ok = false;
      }
      bulkPrepared[g] = true;
      break;
    case 6:
      if (!r.payload.empty()) Violation("bulk upload end with a payload");
      if (!bulkStarted[g]) {
        Violation("bulk upload end without a start");
        ok = false;
      }
      bulkStarted[g] = bulkPrepared[g] = false;
      break;
  }
  Reply(r, ok ? "0" : "1", nth);
}

}  // namespace handset
