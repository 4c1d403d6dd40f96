// The simulated handset's inside, shared by its files: the state behind
// Handset (handset.h), guarded by mu where the control API shares it, and the
// serving thread's steps, one file a job:
//
//   requests.cpp   reading a request off the stream
//   spill.cpp      a large file upload streaming to disk as it arrives
//   responses.cpp  writing response frames, bent by the faults
//   session.cpp    hello, PIN, goodbye, and each request to its handler
//   downloads.cpp  count queries, item transfers and file downloads
//   uploads.cpp    upload items and the bulk uploads' start, preparation, end
//   handset.cpp    the control API
#pragma once

#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <random>

#include "handset/handset.h"

namespace handset {

using Clock = std::chrono::steady_clock;

// A 64 MiB file with its name header; more is refused, not stored.
constexpr std::size_t kMaxRequestPayload = (64u << 20) + 4096;
// File uploads from this size on go to disk as they arrive (see Spill).
constexpr std::size_t kSpillBytes = 1u << 20;

inline std::uint32_t Key(unsigned code, unsigned group, unsigned operation) {
  return (code << 16) | ((group & 0xFF) << 8) | (operation & 0xFF);
}

inline int ElapsedMs(Clock::time_point since) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

inline bool IsTransferGroup(unsigned g) {
  return g == kGroupFiles || g == kGroupBookmarks || g == kGroupAddress || g == kGroupLightMail ||
         g == kGroupMail;
}

inline unsigned TransferOperation(unsigned group) { return group == kGroupFiles ? 7 : 2; }

// Printable form of payload bytes for logs and messages (responses.cpp).
std::string Show(const std::string& s, std::size_t max = 80);

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
  std::string spillTail;  // the last bytes a streaming upload received
  // Bytes of the current connection each way, traced when it ends (what a
  // line had to carry for it).
  unsigned long long bytesIn = 0, bytesOut = 0;
  bool lastFrameBent = false;  // the last frame was overridden or hit by a fault
  bool transferBent = false;   // the running transfer's items are overridden
  Clock::time_point throttleStart;
  long long throttled = 0;
  // The same line the other way: what the program sends is taken no faster.
  Clock::time_point receiveStart;
  long long received = 0;
  void PaceReceive(std::size_t n);

  // A setting of the control API, under mu.
  template <typename T>
  void Set(T& setting, T value) {
    std::lock_guard<std::mutex> lock(mu);
    setting = std::move(value);
  }

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
  bool WriteOut(const char* data, std::size_t n);
  // A goodbye has come in while a response goes out (read into rx, where the
  // serving loop finds it next): the program gave up on the response.
  bool GoodbyeArrived();

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

}  // namespace handset
