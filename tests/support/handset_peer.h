// The simulated handset served in-process on the far end of a PeerPort, so any
// test binary (native, or under Wine over the COM pair) can run whole
// exchanges against it:
//
//   InProcessHandset hs(content);          // serving at once, PIN 1234
//   RegisterHandset(hs, /*storePin=*/true);   // or OpenCorePort(hs.PortName())
//   ... run the program's operation ...
//   hs.WaitForGoodbye();
//   EXPECT_TRUE(hs->Violations().empty());
//
// hs-> is the handset's control API (handset/handset.h): item and reply
// overrides, refused uploads, faults, the request log, the content now.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "handset/handset.h"
#include "link/state.h"
#include "tests/support/peer.h"

class InProcessHandset {
 public:
  InProcessHandset();
  explicit InProcessHandset(const handset::Content& content);
  ~InProcessHandset();  // stops serving (draining a blocked write if need be)
  InProcessHandset(const InProcessHandset&) = delete;
  InProcessHandset& operator=(const InProcessHandset&) = delete;

  bool ok() const { return ok_; }
  const WCHAR* PortName() const { return portName_; }
  handset::Handset* operator->() { return &handset_; }
  handset::Handset& handset() { return handset_; }

  // The program reads no reply to goodbye: wait until the handset has seen the
  // count-th goodbye before looking at the log.
  bool WaitForGoodbye(int count = 1, int timeoutMs = 5000);
  void Stop();

 private:
  // The far end, dropped when a fault makes the port vanish.
  struct PeerIo : handset::Io {
    std::unique_ptr<PeerPort> peer = std::make_unique<PeerPort>();
    long Read(void* data, std::size_t max, int timeoutMs) override {
      return peer ? static_cast<long>(peer->Read(data, max, timeoutMs)) : -1;
    }
    bool Write(const void* data, std::size_t n) override { return peer && peer->Write(data, n); }
    void Close() override { peer.reset(); }
  } io_;
  bool ok_ = false;
  WCHAR portName_[MAX_PATH] = {};
  handset::Handset handset_;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

// HKLM\Drivers\Active\01 for the handset's port with the handset driver's key,
// and the PIN: stored (scrambled, as the PIN dialog would leave it) when
// storePin, else no stored PIN, so the PIN dialog (AskPin) is asked.
void RegisterHandset(const InProcessHandset& handset, bool storePin, DWORD pin = 1234);

// A connection without the operation runner, for tests of one transfer: the
// core's port opened on the handset and logged in with PIN 1234; LogIn's
// message, or "オープンに失敗しました" when the port did not open.
Message ConnectAndLogIn(const InProcessHandset& handset);
// Goodbye and the port closed, when it is open. False when the handset did
// not hear the goodbye.
bool HangUp(InProcessHandset& handset);
