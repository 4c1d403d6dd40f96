#include "handset/handset.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <random>
#include <thread>

namespace handset {

using Clock = std::chrono::steady_clock;

namespace {

// A 64 MiB file with its name header; more is refused, not stored.
constexpr std::size_t kMaxRequestPayload = (64u << 20) + 4096;
// File uploads from this size on go to disk as they arrive (see Spill).
constexpr std::size_t kSpillBytes = 1u << 20;

std::uint32_t Key(unsigned code, unsigned group, unsigned operation) {
  return (code << 16) | ((group & 0xFF) << 8) | (operation & 0xFF);
}

int ElapsedMs(Clock::time_point since) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

bool IsTransferGroup(unsigned g) {
  return g == kGroupFiles || g == kGroupBookmarks || g == kGroupAddress || g == kGroupLightMail ||
         g == kGroupMail;
}

unsigned TransferOperation(unsigned group) { return group == kGroupFiles ? 7 : 2; }

// Printable form of payload bytes for logs and messages.
std::string Show(const std::string& s, std::size_t max = 80) {
  std::string out;
  for (std::size_t i = 0; i < s.size() && i < max; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 32 && c < 127 && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  if (s.size() > max) out += "...(" + std::to_string(s.size()) + " bytes)";
  return out;
}

}  // namespace

std::string EncodeFrame(const Frame& f) {
  std::uint32_t length = f.announcedLength >= 0 ? static_cast<std::uint32_t>(f.announcedLength)
                                                : static_cast<std::uint32_t>(f.payload.size() + 4);
  std::string out;
  out.reserve(12 + f.payload.size());
  out.push_back(static_cast<char>(kMarker));
  out.push_back(static_cast<char>(f.direction));
  out.push_back(static_cast<char>((f.code >> 8) & 0xFF));
  out.push_back(static_cast<char>(f.code & 0xFF));
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
  out.push_back(0);
  out.push_back(static_cast<char>(f.group & 0xFF));
  out.push_back(0);
  out.push_back(static_cast<char>(f.operation & 0xFF));
  out += f.payload;
  return out;
}

struct Handset::Impl {
  // Shared with the control API, under mu.
  mutable std::mutex mu;
  mutable std::condition_variable changed;
  Content content;
  std::filesystem::path folder;
  bool hasFolder = false;
  std::string pin = "1234";
  int idleResetMs = 30000;
  int stallMs = 5000;
  long throttle = 0;
  unsigned seed = 1;
  std::function<void(const std::string&)> trace;
  std::map<unsigned, std::vector<Frame>> itemOverrides;
  struct ReplyOverride {
    std::uint32_t key;
    std::string payload;
    int times;
  };
  std::vector<ReplyOverride> replies;
  struct Refusal {
    unsigned group;
    int index;
    std::string reply;
  };
  std::vector<Refusal> refusals;
  struct ActiveFault {
    Fault fault;
    int used = 0;
  };
  std::vector<ActiveFault> faults;
  std::vector<LoggedRequest> log;
  bool keepLog = true;
  std::size_t handled = 0;  // requests of the log fully dispatched
  // Held by the serving thread while a stored file goes out from where it
  // lies, and taken before mu by everything that replaces stored files.
  std::mutex filesMu;

  // A large file upload to a handset with a folder and no request log (the
  // program palvo-handset) streams to disk as it arrives, as a real handset
  // stores it, rather than through memory; the stored file's data is read
  // back only when it is downloaded or the content is asked for.
  struct Spill {
    std::FILE* file = nullptr;   // open while the request's bytes arrive
    std::filesystem::path path;  // set until UploadItem moves it into place
    std::size_t left = 0, size = 0;
    bool failed = false, declined = false, ready = false;
    std::string head;  // name TAB wire TAB
    unsigned code = 0, group = 0, operation = 0;
    bool headerOk = true;
  } spill;  // serving thread
  struct Spilled {
    std::string name, wire;
    std::filesystem::path path;
    std::uintmax_t size;
  };
  std::vector<Spilled> spilled;  // under mu: stored files whose data is on disk only
  std::vector<std::string> violations;

  // The serving thread's own.
  Io* io = nullptr;
  std::string rx;
  std::size_t discard = 0;  // bytes of an over-long request still to drop
  enum State { kStandby, kAwaitPin, kSession } state = kStandby;
  int connection = 0;
  std::map<std::uint32_t, int> occurrences;
  std::map<unsigned, std::vector<Frame>> snapshots;  // items fixed by the count query
  std::map<unsigned, bool> overriddenAtCount;
  std::deque<Frame> pending;  // items of the running transfer
  bool awaitingAck = false;
  std::uint32_t transferKey = 0;
  int transferNth = 0;
  int nextItem = 0;
  std::map<unsigned, int> uploadCounts;
  bool bulkStarted[256] = {};
  bool bulkPrepared[256] = {};
  std::vector<int> bulkNumbers;  // memory numbers of this bookmark upload
  std::mt19937 rng{1};
  bool vanished = false;
  bool lastFrameBent = false;  // the last frame was overridden or hit by a fault
  bool transferBent = false;   // the running transfer's items are overridden
  Clock::time_point throttleStart;
  long long throttled = 0;

  void Trace(const std::string& line) {
    std::function<void(const std::string&)> t;
    {
      std::lock_guard<std::mutex> lock(mu);
      t = trace;
    }
    if (t) t(line);
  }

  void Violation(const std::string& what) {
    {
      std::lock_guard<std::mutex> lock(mu);
      violations.push_back(what);
    }
    changed.notify_all();
    Trace("VIOLATION " + what);
  }

  std::vector<Frame> NaturalItems(unsigned group) const;  // under mu
  std::vector<Frame> ItemsLocked(unsigned group) const {
    auto it = itemOverrides.find(group);
    return it != itemOverrides.end() ? it->second : NaturalItems(group);
  }

  int StallMs() {
    std::lock_guard<std::mutex> lock(mu);
    return stallMs;
  }
  bool MayStream(std::size_t payload, std::filesystem::path* dir);
  bool StartSpill(std::size_t payload, const std::filesystem::path& dir);
  void DropSpill();
  void LoadSpilledLocked();  // under filesMu and mu
  enum ReadOutcome { kGot, kIdle, kGone, kStopped };
  ReadOutcome ReadRequest(const std::atomic<bool>& stop, LoggedRequest* r, bool* headerOk);
  bool WriteRaw(const char* data, std::size_t n);
  bool Send(const Frame& frame, std::uint32_t key, int nth, int item,
            const std::string* tail = nullptr);
  void Reply(const LoggedRequest& r, std::string payload, int nth,
             const std::string* tail = nullptr);
  void Dispatch(LoggedRequest& r, int nth);
  void EndSession(const char* why);
  void SendNextItem();
  void Count(const LoggedRequest& r, int nth);
  void Transfer(const LoggedRequest& r, int nth);
  void FileDownload(const LoggedRequest& r, int nth);
  void UploadItem(LoggedRequest& r, int nth);
  void Bulk(const LoggedRequest& r, int nth);
};

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

// ---- reading requests

Handset::Impl::ReadOutcome Handset::Impl::ReadRequest(const std::atomic<bool>& stop,
                                                      LoggedRequest* r, bool* headerOk) {
  Clock::time_point lastByte = Clock::now();
  char buf[4096];
  for (;;) {
    if (stop) {
      DropSpill();
      return kStopped;
    }
    if (spill.file) {
      if (spill.left == 0) {
        spill.failed = std::fclose(spill.file) != 0 || spill.failed;
        spill.file = nullptr;
        spill.ready = true;
        spill.declined = false;
        r->code = spill.code;
        r->group = spill.group;
        r->operation = spill.operation;
        *headerOk = spill.headerOk;
        r->payload = spill.head;
        return kGot;
      }
      // No further than this request: the next one may follow at once.
      const long n = io->Read(buf, std::min(sizeof buf, spill.left), 100);
      if (n < 0) {
        DropSpill();
        return kGone;
      }
      if (n > 0) {
        const std::size_t k = static_cast<std::size_t>(n);
        spill.failed = spill.failed || std::fwrite(buf, 1, k, spill.file) != k;
        spill.left -= k;
        lastByte = Clock::now();
      } else if (ElapsedMs(lastByte) > StallMs()) {
        Violation("request cut short: " + std::to_string(spill.size - spill.left) +
                  " bytes of a file upload, then silence");
        DropSpill();
      }
      continue;
    }
    if (discard > 0) {
      std::size_t n = std::min(discard, rx.size());
      rx.erase(0, n);
      discard -= n;
    }
    if (discard == 0) {
      // Find the request marker; whatever stands before it is not ours.
      std::size_t i = 0;
      while (i + 1 < rx.size() && !(static_cast<unsigned char>(rx[i]) == kMarker &&
                                    static_cast<unsigned char>(rx[i + 1]) == kRequestDir))
        ++i;
      if (i + 1 >= rx.size() && !rx.empty() && static_cast<unsigned char>(rx.back()) != kMarker)
        i = rx.size();  // no marker, and no half of one at the end
      if (i > 0) {
        Violation(std::to_string(i) + " stray bytes before a request: " + Show(rx.substr(0, i)));
        rx.erase(0, i);
      }
      if (rx.size() >= 12) {
        const unsigned char* h = reinterpret_cast<const unsigned char*>(rx.data());
        std::uint32_t length = h[4] | (h[5] << 8) | (h[6] << 16) | (std::uint32_t(h[7]) << 24);
        if (length < 4) {
          Violation("request with length field " + std::to_string(length));
          rx.erase(0, 12);
          continue;
        }
        std::size_t payload = length - 4;
        if (payload > kMaxRequestPayload) {
          Violation("request payload of " + std::to_string(payload) + " bytes refused");
          discard = 12 + payload;
          continue;
        }
        std::filesystem::path dir;
        const bool mayStream = rx.size() < 12 + payload && MayStream(payload, &dir);
        if (mayStream && StartSpill(payload, dir)) continue;
        if (rx.size() >= 12 + payload) {
          spill.declined = false;
          r->code = (h[2] << 8) | h[3];
          r->group = h[9];
          r->operation = h[11];
          *headerOk = h[8] == 0 && h[10] == 0;
          if (rx.size() == 12 + payload && payload > sizeof buf) {
            // A large upload: hand its bytes over rather than copy them.
            rx.erase(0, 12);
            r->payload = std::move(rx);
            rx.clear();
          } else {
            r->payload = rx.substr(12, payload);
            rx.erase(0, 12 + payload);
          }
          return kGot;
        }
        // Room for the whole request at once, not doubling on the way.
        // (Not for one that may still stream: it never needs the room.)
        if (!mayStream && rx.capacity() < 12 + payload) rx.reserve(12 + payload);
      }
    }
    long n = io->Read(buf, sizeof buf, 100);
    if (n < 0) return kGone;
    if (n > 0) {
      rx.append(buf, static_cast<std::size_t>(n));
      lastByte = Clock::now();
      continue;
    }
    int quiet = ElapsedMs(lastByte);
    int stall, idle;
    {
      std::lock_guard<std::mutex> lock(mu);
      stall = stallMs;
      idle = idleResetMs;
    }
    if ((!rx.empty() || discard > 0) && quiet > stall) {
      Violation("request cut short: " + std::to_string(rx.size()) + " bytes, then silence");
      rx.clear();
      discard = 0;
      spill.declined = false;
    }
    if (rx.empty() && state != kStandby && quiet > idle) return kIdle;
  }
}

// Whether the request at the start of rx, not all here yet, is a file upload
// that may stream to disk (into *dir): large, in a session, to a folder.
bool Handset::Impl::MayStream(std::size_t payload, std::filesystem::path* dir) {
  const unsigned char* h = reinterpret_cast<const unsigned char*>(rx.data());
  if (payload < kSpillBytes || spill.declined || ((h[2] << 8) | h[3]) != 3 || h[9] != kGroupFiles ||
      h[11] != 3 || state != kSession)
    return false;
  std::lock_guard<std::mutex> lock(mu);
  if (!hasFolder || keepLog) return false;
  *dir = folder;
  return true;
}

// Whether that upload now streams. False also while its name and wire have
// not arrived.
bool Handset::Impl::StartSpill(std::size_t payload, const std::filesystem::path& dir) {
  const unsigned char* h = reinterpret_cast<const unsigned char*>(rx.data());
  const std::size_t t1 = rx.find('\t', 12);
  const std::size_t t2 = t1 == std::string::npos ? t1 : rx.find('\t', t1 + 1);
  if (t2 == std::string::npos) {
    spill.declined = rx.size() >= 12 + 1024;  // no such name: the usual way
    return false;
  }
  spill.path = dir / ".upload.part";
  spill.file = std::fopen(spill.path.string().c_str(), "wb");
  if (!spill.file) {
    spill.path.clear();
    spill.declined = true;
    return false;
  }
  std::setvbuf(spill.file, nullptr, _IONBF, 0);  // each piece as read: no second copy
  spill.code = 3;
  spill.group = h[9];
  spill.operation = h[11];
  spill.headerOk = h[8] == 0 && h[10] == 0;
  spill.head = rx.substr(12, t2 + 1 - 12);
  spill.size = payload - spill.head.size();
  const std::size_t here = rx.size() - (t2 + 1);
  spill.failed = std::fwrite(rx.data() + t2 + 1, 1, here, spill.file) != here;
  spill.left = spill.size - here;
  spill.ready = false;
  rx.clear();
  return true;
}

void Handset::Impl::DropSpill() {
  if (spill.file) std::fclose(spill.file);
  spill.file = nullptr;
  if (!spill.path.empty()) {
    std::error_code ec;
    std::filesystem::remove(spill.path, ec);
  }
  spill.path.clear();
  spill.ready = spill.declined = spill.failed = false;
}

void Handset::Impl::LoadSpilledLocked() {
  for (const Spilled& s : spilled)
    for (StoredFile& f : content.files)
      if (f.name == s.name && f.wire == s.wire && !ReadWhole(s.path, &f.data))
        violations.push_back("cannot read back " + s.path.string());  // mu is held
  spilled.clear();
}

// ---- writing responses

bool Handset::Impl::WriteRaw(const char* data, std::size_t n) {
  long rate;
  {
    std::lock_guard<std::mutex> lock(mu);
    rate = throttle;
  }
  if (rate <= 0) return io->Write(data, n);
  std::size_t chunk = static_cast<std::size_t>(std::max(1L, rate / 50));
  while (n > 0) {
    std::size_t k = std::min(chunk, n);
    // A line earns no credit while idle: after a pause longer than one slice
    // the budget starts afresh, so no burst goes out faster than the rate;
    // a slice that came late (the reader, the scheduler) is still made up.
    const Clock::time_point now = Clock::now();
    if (now - (throttleStart + std::chrono::milliseconds(throttled * 1000 / rate)) >
        std::chrono::milliseconds(1000 / 50)) {
      throttleStart = now;
      throttled = 0;
    }
    if (!io->Write(data, k)) return false;
    data += k;
    n -= k;
    throttled += static_cast<long long>(k);
    // Sleep until the bytes written so far are due at the given rate.
    std::this_thread::sleep_until(throttleStart +
                                  std::chrono::milliseconds(throttled * 1000 / rate));
  }
  return true;
}

// Writes one response frame, bent by the faults that match it. False when the
// frame did not go out whole (silence, vanish or a failed write). tail, when
// given, is more payload after frame.payload (a stored file after its echo).
bool Handset::Impl::Send(const Frame& frame, std::uint32_t key, int nth, int item,
                         const std::string* tail) {
  std::vector<Fault> apply;
  {
    std::lock_guard<std::mutex> lock(mu);
    for (ActiveFault& a : faults) {
      const Fault& f = a.fault;
      if (f.times > 0 && a.used >= f.times) continue;
      if ((f.code >= 0 && unsigned(f.code) != (key >> 16)) ||
          (f.group >= 0 && unsigned(f.group) != ((key >> 8) & 0xFF)) ||
          (f.operation >= 0 && unsigned(f.operation) != (key & 0xFF)))
        continue;
      if (f.nth > 0 && f.nth != nth) continue;
      if (f.item >= 0 && f.item != item) continue;
      ++a.used;
      apply.push_back(f);
    }
  }
  lastFrameBent = !apply.empty();
  const std::size_t tailSize = tail ? tail->size() : 0;
  if (apply.empty() && frame.payload.size() + tailSize > 65536) {
    // A large frame that nothing bends: the header, then the payload where it
    // lies, not copied once more into one block.
    Trace("response " + std::to_string(frame.code) + "/" + std::to_string(frame.group) + "/" +
          std::to_string(frame.operation) + " item " + std::to_string(item) + " " +
          Show(frame.payload, 60));
    Frame head{frame.code,
               frame.group,
               frame.operation,
               std::string(),
               frame.announcedLength >= 0
                   ? frame.announcedLength
                   : static_cast<long long>(frame.payload.size() + tailSize + 4),
               frame.direction};
    const std::string header = EncodeFrame(head);
    return WriteRaw(header.data(), header.size()) &&
           WriteRaw(frame.payload.data(), frame.payload.size()) &&
           (!tail || WriteRaw(tail->data(), tail->size()));
  }
  std::string bytes;
  if (tail) {  // a bent frame: faults cut and pad one block
    Frame whole = frame;
    whole.payload += *tail;
    bytes = EncodeFrame(whole);
  } else {
    bytes = EncodeFrame(frame);
  }
  std::size_t cut = bytes.size();
  bool vanish = false, silence = false;
  int maxPiece = 0, pause = 0;
  std::string before, after;
  for (const Fault& f : apply) {
    switch (f.action) {
      case Fault::kNoise:
        before += f.bytes;
        break;
      case Fault::kExtra:
        after += f.bytes;
        break;
      case Fault::kPieces:
        maxPiece = std::max(1, f.maxPiece);
        pause = f.ms;
        break;
      case Fault::kDelay:
        std::this_thread::sleep_for(std::chrono::milliseconds(f.ms));
        break;
      case Fault::kSilence:
        silence = true;
        cut = std::min(cut, f.at);
        break;
      case Fault::kVanish:
        vanish = true;
        cut = std::min(cut, f.at);
        break;
    }
  }
  Trace("response " + std::to_string(frame.code) + "/" + std::to_string(frame.group) + "/" +
        std::to_string(frame.operation) + " item " + std::to_string(item) + " " +
        Show(frame.payload, 60));
  if (!before.empty() && !WriteRaw(before.data(), before.size())) return false;
  std::string body;
  if (cut == bytes.size() && (after.empty() || silence || vanish)) {
    body = std::move(bytes);  // the usual case: no copy of a large frame
  } else {
    body = bytes.substr(0, cut) + ((silence || vanish) ? std::string() : after);
  }
  if (maxPiece > 0) {
    std::size_t pos = 0;
    while (pos < body.size()) {
      std::size_t k =
          std::min<std::size_t>(body.size() - pos, 1 + rng() % static_cast<unsigned>(maxPiece));
      if (!WriteRaw(body.data() + pos, k)) return false;
      pos += k;
      if (pause > 0 && pos < body.size())
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    }
  } else if (!body.empty() && !WriteRaw(body.data(), body.size())) {
    return false;
  }
  if (vanish) {
    Trace("port vanishes");
    vanished = true;
    io->Close();
    return false;
  }
  if (silence) Trace("falls silent");
  return !silence;
}

void Handset::Impl::Reply(const LoggedRequest& r, std::string payload, int nth,
                          const std::string* tail) {
  std::uint32_t key = Key(r.code, r.group, r.operation);
  {
    std::lock_guard<std::mutex> lock(mu);
    for (std::size_t i = 0; i < replies.size(); ++i) {
      if (replies[i].key != key) continue;
      payload = replies[i].payload;
      tail = nullptr;
      if (replies[i].times > 0 && --replies[i].times == 0) replies.erase(replies.begin() + i);
      break;
    }
  }
  Send({r.code, r.group, r.operation, std::move(payload)}, key, nth, -1, tail);
}

// ---- the session

void Handset::Impl::EndSession(const char* why) {
  if (state != kStandby) Trace(std::string("back to standby: ") + why);
  state = kStandby;
  pending.clear();
  awaitingAck = false;
  snapshots.clear();
  for (bool& b : bulkStarted) b = false;
  for (bool& b : bulkPrepared) b = false;
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
        why = "file upload with an unusable name: " + Show(f.name);
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

void Handset::Impl::Dispatch(LoggedRequest& r, int nth) {
  const bool ack = r.Is(16, kGroupAck, 16);
  if (awaitingAck) {
    if (ack) {
      if (r.payload != "0") Violation("next-item acknowledgement with payload " + Show(r.payload));
      SendNextItem();
      return;
    }
    // A program that refuses a bent item rightly ends with goodbye instead.
    if (!(r.Is(255, kGroupConnection, 2) && (transferBent || lastFrameBent)))
      Violation("expected the next-item acknowledgement of item " + std::to_string(nextItem - 1) +
                ", got " + std::to_string(r.code) + "/" + std::to_string(r.group) + "/" +
                std::to_string(r.operation));
    else
      Trace("goodbye instead of the acknowledgement of a bent item");
    pending.clear();
    awaitingAck = false;
  } else if (ack) {
    Violation("next-item acknowledgement outside a transfer");
    return;
  }

  if (r.Is(0, kGroupConnection, 1)) {  // hello: always a fresh connection
    EndSession("hello");
    uploadCounts.clear();
    if (r.payload != "1") Violation("hello with payload " + Show(r.payload));
    std::string answer = r.payload == "1" ? "OK" : "NG";
    {
      std::lock_guard<std::mutex> lock(mu);
      for (const ReplyOverride& o : replies)
        if (o.key == Key(0, 1, 1)) answer = o.payload;
    }
    Reply(r, r.payload == "1" ? "OK" : "NG", nth);
    state = answer == "OK" ? kAwaitPin : kStandby;
    return;
  }
  if (r.Is(255, kGroupConnection, 2)) {
    if (!r.payload.empty()) Violation("goodbye with a payload");
    EndSession("goodbye");
    return;
  }
  if (state == kStandby) {
    Violation("request " + std::to_string(r.code) + "/" + std::to_string(r.group) + "/" +
              std::to_string(r.operation) + " outside a session");
    return;
  }
  if (r.Is(1, kGroupPin, 1)) {
    std::string pinNow;
    {
      std::lock_guard<std::mutex> lock(mu);
      pinNow = pin;
    }
    bool digits = r.payload.size() == 4 && std::all_of(r.payload.begin(), r.payload.end(),
                                                       [](char c) { return c >= '0' && c <= '9'; });
    if (!digits)
      Violation("PIN payload is not four digits (" + std::to_string(r.payload.size()) + " bytes)");
    std::string answer = r.payload == pinNow ? "OK" : "NG";
    {
      std::lock_guard<std::mutex> lock(mu);
      for (const ReplyOverride& o : replies)
        if (o.key == Key(1, 2, 1)) answer = o.payload;
    }
    Reply(r, r.payload == pinNow ? "OK" : "NG", nth);
    state = answer == "OK" ? kSession : kStandby;
    return;
  }
  if (state != kSession) {
    Violation("request before the PIN was accepted");
    return;
  }
  if (r.code == 2 && r.operation == 1 && IsTransferGroup(r.group)) return Count(r, nth);
  if (r.code == 3 && IsTransferGroup(r.group) && r.operation == TransferOperation(r.group))
    return Transfer(r, nth);
  if (r.Is(3, kGroupFiles, 2)) return FileDownload(r, nth);
  if (r.code == 3 && r.operation == 3 &&
      (r.group == kGroupFiles || r.group == kGroupBookmarks || r.group == kGroupAddress ||
       r.group == kGroupLightMail || r.group == kGroupMail))
    return UploadItem(r, nth);
  if (r.code == 3 && (r.group == kGroupBookmarks || r.group == kGroupAddress) && r.operation >= 4 &&
      r.operation <= 6)
    return Bulk(r, nth);
  Violation("unknown request " + std::to_string(r.code) + "/" + std::to_string(r.group) + "/" +
            std::to_string(r.operation));
}

// ---- Handset

Handset::Handset() : impl_(new Impl) {}
Handset::~Handset() { delete impl_; }

void Handset::SetContent(const Content& content) {
  std::lock_guard<std::mutex> serving(impl_->filesMu);
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->spilled.clear();
  impl_->content = content;
  impl_->hasFolder = false;
}

bool Handset::LoadFolder(const std::filesystem::path& dir, std::string* error) {
  Content c;
  if (!LoadContent(dir, &c, error)) return false;
  std::lock_guard<std::mutex> serving(impl_->filesMu);
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->spilled.clear();
  impl_->content = std::move(c);
  impl_->folder = dir;
  impl_->hasFolder = true;
  return true;
}

Content Handset::GetContent() const {
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (impl_->spilled.empty()) return impl_->content;
  }
  std::lock_guard<std::mutex> serving(impl_->filesMu);
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->LoadSpilledLocked();
  return impl_->content;
}

void Handset::SetPin(const std::string& pin) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->pin = pin;
}

void Handset::SetIdleResetMs(int ms) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->idleResetMs = ms;
}

void Handset::SetStallMs(int ms) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->stallMs = ms;
}

void Handset::SetThrottle(long bytesPerSecond) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->throttle = bytesPerSecond;
}

void Handset::SetSeed(unsigned seed) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->seed = seed;
}

void Handset::KeepLog(bool keep) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->keepLog = keep;
}

void Handset::SetTrace(std::function<void(const std::string&)> trace) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->trace = std::move(trace);
}

void Handset::Serve(Io& io) {
  Impl& m = *impl_;
  m.io = &io;
  m.rx.clear();
  m.discard = 0;
  m.vanished = false;
  m.EndSession("serving");
  {
    std::lock_guard<std::mutex> lock(m.mu);
    m.rng.seed(m.seed);
  }
  m.throttleStart = Clock::now();
  m.throttled = 0;
  while (!stop_ && !m.vanished) {
    LoggedRequest r;
    bool headerOk = true;
    Impl::ReadOutcome got = m.ReadRequest(stop_, &r, &headerOk);
    if (got == Impl::kGone || got == Impl::kStopped) break;
    if (got == Impl::kIdle) {
      m.EndSession("silence");
      continue;
    }
    int nth;
    {
      std::lock_guard<std::mutex> lock(m.mu);
      if (r.Is(0, kGroupConnection, 1)) ++m.connection;
      r.connection = m.connection;
      if (m.keepLog) m.log.push_back(r);
      nth = ++m.occurrences[Key(r.code, r.group, r.operation)];
    }
    m.changed.notify_all();
    // The PIN stays out of the log: only its length shows.
    const bool secret = r.Is(1, kGroupPin, 1);
    m.Trace(
        "request " + std::to_string(r.code) + "/" + std::to_string(r.group) + "/" +
        std::to_string(r.operation) + " " +
        (secret ? "(PIN, " + std::to_string(r.payload.size()) + " bytes)" : Show(r.payload, 60)));
    if (!headerOk) m.Violation("request header with non-zero bytes 8 or 10");
    m.Dispatch(r, nth);
    m.DropSpill();  // a streamed upload that was not stored
    {
      std::lock_guard<std::mutex> lock(m.mu);
      m.handled = m.log.size();
    }
    m.changed.notify_all();
  }
  m.EndSession("port closed");
  m.io = nullptr;
}

void Handset::Stop() { stop_ = true; }

std::vector<Frame> Handset::Items(unsigned group) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->ItemsLocked(group);
}

void Handset::OverrideItems(unsigned group, std::vector<Frame> frames) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->itemOverrides[group] = std::move(frames);
}

void Handset::OverrideReply(unsigned code, unsigned group, unsigned operation,
                            const std::string& payload, int times) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  std::uint32_t key = Key(code, group, operation);
  auto& r = impl_->replies;
  r.erase(std::remove_if(r.begin(), r.end(), [&](const auto& o) { return o.key == key; }), r.end());
  r.push_back({key, payload, times});
}

void Handset::RefuseUpload(unsigned group, int index, const std::string& reply) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->refusals.push_back({group, index, reply});
}

void Handset::AddFault(const Fault& fault) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->faults.push_back({fault, 0});
}

void Handset::ClearControl() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->itemOverrides.clear();
  impl_->replies.clear();
  impl_->refusals.clear();
  impl_->faults.clear();
}

std::vector<LoggedRequest> Handset::Log() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->log;
}

std::vector<std::string> Handset::Violations() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->violations;
}

void Handset::ClearLog() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->log.clear();
  impl_->handled = 0;
  impl_->violations.clear();
}

bool Handset::WaitFor(const std::function<bool(const std::vector<LoggedRequest>&)>& pred,
                      int timeoutMs) const {
  std::unique_lock<std::mutex> lock(impl_->mu);
  // Only once the request has been dealt with, so its deviations are in too.
  return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return impl_->handled == impl_->log.size() && pred(impl_->log);
  });
}

bool Handset::WaitForRequest(unsigned code, unsigned group, unsigned operation, int count,
                             int timeoutMs) const {
  return WaitFor(
      [&](const std::vector<LoggedRequest>& log) {
        int n = 0;
        for (const LoggedRequest& r : log) n += r.Is(code, group, operation) ? 1 : 0;
        return n >= count;
      },
      timeoutMs);
}

}  // namespace handset
