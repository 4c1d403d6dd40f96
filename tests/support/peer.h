// The far end of the serial port the core talks to, for tests.
// Natively: a pseudo-terminal made per PeerPort (the core opens its slave).
// Under Wine: the far end of a null-modem pair of COM ports made by the test
// runner; PALVO_TEST_PORT names the core's end, PALVO_TEST_PEER the far end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"

class PeerPort {
 public:
  PeerPort();
  ~PeerPort();
  PeerPort(const PeerPort&) = delete;
  PeerPort& operator=(const PeerPort&) = delete;

  bool ok() const;
  const WCHAR* PortName() const { return portName_; }  // what the core opens

  bool Write(const void* data, std::size_t n);
  bool Write(const std::vector<std::uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
  // Up to max bytes; returns what arrived within timeoutMs (0 on silence).
  std::size_t Read(void* data, std::size_t max, int timeoutMs);
  bool ReadExact(void* data, std::size_t n, int timeoutMs);
  void Purge();  // drops whatever the core has sent and we have not read

 private:
  WCHAR portName_[MAX_PATH] = {};
#ifdef _WIN32
  HANDLE far_ = INVALID_HANDLE_VALUE;
#else
  int master_ = -1;
  int keepSlave_ = -1;  // keeps the pty alive while the core closes and reopens it
#endif
};

// A response frame as the handset sends it (direction 0x02).
std::vector<std::uint8_t> ResponseFrame(unsigned code, unsigned group, unsigned operation,
                                        const std::string& payload);

struct ReceivedRequest {
  std::vector<std::uint8_t> header;  // the 12 header bytes
  unsigned code = 0, group = 0, operation = 0;
  std::string payload;
};
// Reads one request frame written by the core (payload included).
bool ReadRequest(PeerPort& peer, ReceivedRequest* request, int timeoutMs = 5000);

// Runs fn on its own thread for the life of the object (the scripted handset).
class PeerScript {
 public:
  explicit PeerScript(std::function<void()> fn) : thread_(std::move(fn)) {}
  ~PeerScript() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

// Opens g_port on name exactly as OpenHandsetPort does after the PIN step
// (exclusive open, escape 10, time-outs, purge). False when it cannot open.
bool OpenCorePort(const WCHAR* name);

// Writes HKLM\Drivers\Active\<sub> with "Key" = driverKey and "Name" = port.
void RegisterDriver(const WCHAR* sub, const WCHAR* driverKey, const WCHAR* port);
void ClearDrivers();  // removes every subkey of HKLM\Drivers\Active
// A driver key that passes the handset driver's prefix and suffix tests.
constexpr const WCHAR* kTestDriverKey =
    L"Drivers\\USB\\LoadClients\\1154_515_Default\\0\\RS232_USB";
