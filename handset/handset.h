// The simulated handset: answers the program's requests over any byte stream,
// with content from memory or a folder, and lets tests bend every answer.
//
// Portable (native and MinGW): the only I/O is the small Io interface below.
// The program palvo-handset (handset/main.cpp) serves it on a pseudo-terminal;
// tests run it in-process over a PeerPort (tests/support/handset_peer.h).
//
// Session: standby -> hello (payload "1", reply "OK") -> PIN (four digits, reply
// "OK" or "NG") -> requests -> goodbye -> standby. A hello in any state starts
// a new connection; silence in a session (SetIdleResetMs) also returns to
// standby, so the program may close and reopen the port between connections.
// A program that stops part-way (Ctrl-C) says goodbye at once, and the
// handset goes to standby at once too: instead of the next item's
// acknowledgement, while a long response is still going out (the rest is not
// sent), or in the middle of an upload's payload (what came is dropped).
// Bytes before a request marker are skipped. Responses carry direction 0x02
// and repeat the request's code, group and operation (item frames: code 3, the
// transfer's group and operation).
//
// Strictness: the handset checks what it receives (headers, payloads, the
// next-item acknowledgement after every item, upload records) and records each
// deviation in Violations(); a refused upload item gets the reply "1" instead
// of "0". Requests outside a logged-in session get no reply.
//
// ---- Control API (tests) -------------------------------------------------
// Every call is thread-safe and takes effect from the next request on.
//
//   Items(group)                    the item frames a transfer of that group
//                                   would send now (6 files, 8 bookmarks,
//                                   3 addresses, 4 light mails, 5 mails)
//   OverrideItems(group, frames)    send these frames instead (any code, group,
//                                   operation, payload bytes, announced length);
//                                   the count query then answers frames.size()
//   OverrideReply(c, g, o, bytes)   the payload of the reply to request (c,g,o):
//                                   e.g. (0,1,1,"OK\r\n") refuses the hello,
//                                   (2,6,1,"abc") gives a non-numeric file count,
//                                   (3,8,4,"NG") answers the bookmark start;
//                                   times > 0 limits it to that many replies
//   RefuseUpload(group, n, reply)   answer the n-th (0-based, per connection)
//                                   upload item of group (6 file, 8 bookmark,
//                                   3 address, 4 light mail, 5 mail) with reply
//                                   and do not store it
//   AddFault(fault)                 bend how response frames are written: noise
//                                   before, extra bytes after (longer than
//                                   announced), pieces / byte by byte, delay,
//                                   silence after N bytes (or no reply at all),
//                                   the port vanishing after N bytes; matched by
//                                   request, its occurrence and the item index
//   ClearControl()                  drops overrides, refusals and faults
//
//   Log()          every request received: connection number, code, group,
//                  operation, payload (complete) - e.g. "goodbye always sent"
//   Violations()   protocol deviations seen (empty when the program behaved)
//   WaitFor(pred, ms), WaitForRequest(c, g, o, count, ms)
//                  the program does not wait for a reply to goodbye; wait here
//                  before looking at the log (true once the requests are also
//                  handled, so their deviations are recorded)
//   GetContent()   what the handset holds now (uploads included)
//
// The same control is available to palvo-handset through --set LINE, --script
// FILE and --fault NAME (handset/script.cpp, see palvo-handset --help).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "handset/content.h"

namespace handset {

// The byte stream to the program. Read returns the number of bytes read, 0 when
// nothing arrived within timeoutMs, -1 when the port is gone. WriteSome
// writes what the port takes within timeoutMs: the count (maybe 0), or -1
// when the port is gone; the default waits for Write.
struct Io {
  virtual ~Io() = default;
  virtual long Read(void* data, std::size_t max, int timeoutMs) = 0;
  virtual bool Write(const void* data, std::size_t n) = 0;
  virtual long WriteSome(const void* data, std::size_t n, int /*timeoutMs*/) {
    return Write(data, n) ? static_cast<long>(n) : -1;
  }
  virtual void Close() {}  // the port vanishes (fault injection); Read then gives -1
};

// Protocol numbers, as the handset sees them.
constexpr std::uint8_t kMarker = 0xE1;
constexpr std::uint8_t kRequestDir = 0x01;
constexpr std::uint8_t kResponseDir = 0x02;
constexpr unsigned kGroupConnection = 1, kGroupPin = 2, kGroupAddress = 3, kGroupLightMail = 4,
                   kGroupMail = 5, kGroupFiles = 6, kGroupBookmarks = 8, kGroupAck = 9;

// A frame as written to the wire. announcedLength < 0 means 4 + payload size.
struct Frame {
  unsigned code = 0;
  unsigned group = 0;
  unsigned operation = 0;
  std::string payload;
  long long announcedLength = -1;
  std::uint8_t direction = kResponseDir;
};
std::string EncodeFrame(const Frame& frame);

struct LoggedRequest {
  int connection = 0;  // 1 for the first hello, counting up; 0 before any hello
  unsigned code = 0, group = 0, operation = 0;
  std::string payload;
  bool Is(unsigned c, unsigned g, unsigned o) const {
    return code == c && group == g && operation == o;
  }
};

struct Fault {
  enum Action { kNoise, kExtra, kPieces, kDelay, kSilence, kVanish };
  Action action = kNoise;
  // Which response frames: requests matching code/group/operation (-1: any),
  // the nth such request since the handset started (1-based; 0: every one),
  // and which frame of its answer (-1: the direct reply or every item frame,
  // k: only item k of a transfer).
  int code = -1, group = -1, operation = -1;
  int nth = 0;
  int item = -1;
  std::string bytes;   // kNoise / kExtra: the bytes written before / after
  std::size_t at = 0;  // kSilence / kVanish: bytes of the frame written first
  int maxPiece = 1;    // kPieces: piece sizes 1..maxPiece (1: byte by byte)
  int ms = 0;          // kDelay: pause before the frame; kPieces: pause between pieces
  int times = 0;       // how many frames it bends (0: no limit)
};

class Handset {
 public:
  Handset();
  ~Handset();
  Handset(const Handset&) = delete;
  Handset& operator=(const Handset&) = delete;

  // Content: from memory, or loaded from a folder that then also receives
  // every accepted upload.
  void SetContent(const Content& content);
  bool LoadFolder(const std::filesystem::path& dir, std::string* error);
  Content GetContent() const;
  void SetPin(const std::string& pin);  // four digits, default "1234"

  // Serving: one connection after another until Stop() or the port is gone.
  void Serve(Io& io);
  void Stop();
  bool Stopping() const { return stop_; }

  // Settings.
  void SetIdleResetMs(int ms);            // silence that ends a session (default 30000)
  void SetStallMs(int ms);                // silence inside a request frame (default 5000)
  void SetThrottle(long bytesPerSecond);  // 0: unlimited
  void SetSeed(unsigned seed);            // random piece sizes
  void SetTrace(std::function<void(const std::string&)> trace);  // one line per event
  void KeepLog(bool keep);  // false: Log() stays empty (a long-running handset)

  // Control (see the comment block above).
  std::vector<Frame> Items(unsigned group) const;
  void OverrideItems(unsigned group, std::vector<Frame> frames);
  void OverrideReply(unsigned code, unsigned group, unsigned operation, const std::string& payload,
                     int times = 0);
  void RefuseUpload(unsigned group, int index, const std::string& reply = "1");
  void AddFault(const Fault& fault);
  void ClearControl();

  std::vector<LoggedRequest> Log() const;
  std::vector<std::string> Violations() const;
  void ClearLog();
  bool WaitFor(const std::function<bool(const std::vector<LoggedRequest>&)>& pred,
               int timeoutMs) const;
  bool WaitForRequest(unsigned code, unsigned group, unsigned operation, int count,
                      int timeoutMs) const;

 private:
  struct Impl;
  Impl* impl_;
  std::atomic<bool> stop_{false};
};

}  // namespace handset
