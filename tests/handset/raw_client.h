// A raw client for the handset tests: requests built by hand from the frame
// layout, responses parsed by hand, over the port opened with the platform
// layer as the program opens it. The program's own frame code is not used.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/win32.h"

// The core's end of the port, opened with the platform layer like the program.
class RawClient {
 public:
  explicit RawClient(const WCHAR* name) {
    port_ = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    COMMTIMEOUTS t = {MAXDWORD, MAXDWORD, 200, 0, 1000};
    if (port_ != INVALID_HANDLE_VALUE) SetCommTimeouts(port_, &t);
  }
  ~RawClient() {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
  }
  bool ok() const { return port_ != INVALID_HANDLE_VALUE; }

  void SendRaw(const std::string& bytes) {
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
    ASSERT_EQ(done, bytes.size());
  }
  static std::string Request(unsigned code, unsigned group, unsigned op, const std::string& payload,
                             long long announced = -1) {
    std::uint32_t len = announced >= 0 ? static_cast<std::uint32_t>(announced)
                                       : static_cast<std::uint32_t>(payload.size() + 4);
    std::string f = {'\xE1',
                     '\x01',
                     static_cast<char>(code >> 8),
                     static_cast<char>(code),
                     static_cast<char>(len),
                     static_cast<char>(len >> 8),
                     static_cast<char>(len >> 16),
                     static_cast<char>(len >> 24),
                     0,
                     static_cast<char>(group),
                     0,
                     static_cast<char>(op)};
    return f + payload;
  }
  void Send(unsigned code, unsigned group, unsigned op, const std::string& payload = "") {
    SendRaw(Request(code, group, op, payload));
  }

  // Every byte that arrives within ms of silence.
  std::string Drain(int quietMs = 300) {
    std::string out;
    auto last = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - last < std::chrono::milliseconds(quietMs)) {
      char buf[4096];
      DWORD got = 0;
      if (!ReadFile(port_, buf, sizeof buf, &got, nullptr)) break;
      if (got > 0) {
        out.append(buf, got);
        last = std::chrono::steady_clock::now();
      }
    }
    return out;
  }
  // Exactly n bytes (or fewer after timeoutMs).
  std::string ReadN(std::size_t n, int timeoutMs = 3000) {
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n && std::chrono::steady_clock::now() < end) {
      char buf[4096];
      DWORD got = 0;
      DWORD want = static_cast<DWORD>(std::min<std::size_t>(sizeof buf, n - out.size()));
      if (!ReadFile(port_, buf, want, &got, nullptr)) break;
      out.append(buf, got);
    }
    return out;
  }

  struct Response {
    bool ok = false;
    unsigned direction = 0, code = 0, group = 0, op = 0;
    std::uint32_t length = 0;
    std::string payload;
  };
  // One response, bytes before the marker skipped (and counted).
  Response Receive(int timeoutMs = 3000, std::size_t* skipped = nullptr) {
    Response r;
    std::string h;
    std::size_t skip = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (h.size() < 2) {
      if (std::chrono::steady_clock::now() > end) return r;
      std::string b = ReadN(1, 200);
      if (b.empty()) continue;
      h += b;
      if (h.size() == 2 && !(h[0] == '\xE1' && h[1] == '\x02')) {
        h.erase(0, 1);
        ++skip;
      } else if (h.size() == 1 && h[0] != '\xE1') {
        h.clear();
        ++skip;
      }
    }
    if (skipped) *skipped = skip;
    h += ReadN(10, timeoutMs);
    if (h.size() != 12) return r;
    const unsigned char* u = reinterpret_cast<const unsigned char*>(h.data());
    r.direction = u[1];
    r.code = (u[2] << 8) | u[3];
    r.length = u[4] | (u[5] << 8) | (u[6] << 16) | (std::uint32_t(u[7]) << 24);
    r.group = u[9];
    r.op = u[11];
    if (r.length < 4) return r;
    r.payload = ReadN(r.length - 4, timeoutMs);
    r.ok = r.payload.size() == r.length - 4;
    return r;
  }
  std::string Ask(unsigned code, unsigned group, unsigned op, const std::string& payload = "") {
    Send(code, group, op, payload);
    Response r = Receive();
    return r.ok ? r.payload : std::string("<none>");
  }
  void LogIn(const std::string& pin = "1234") {
    ASSERT_EQ(Ask(0, 1, 1, "1"), "OK");
    ASSERT_EQ(Ask(1, 2, 1, pin), "OK");
  }

 private:
  HANDLE port_ = INVALID_HANDLE_VALUE;
};
