#include "tests/support/handset_peer.h"

#include <chrono>
#include <cstdio>
#include <cwchar>

#include "link/login.h"
#include "link/messages.h"
#include "link/pin_store.h"
#include "link/state.h"

InProcessHandset::InProcessHandset() : InProcessHandset(handset::Content()) {}

InProcessHandset::InProcessHandset(const handset::Content& content) {
  ok_ = io_.peer->ok();
  std::wcsncpy(portName_, io_.peer->PortName(), MAX_PATH - 1);
  handset_.SetContent(content);
  thread_ = std::thread([this] {
    handset_.Serve(io_);
    finished_ = true;
  });
}

InProcessHandset::~InProcessHandset() { Stop(); }

void InProcessHandset::Stop() {
  if (!thread_.joinable()) return;
  handset_.Stop();
  // A handset blocked writing a frame nobody reads: read the port's far side
  // dry until it lets go.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!finished_ && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!finished_) {
    HANDLE port =
        CreateFileW(portName_, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port != INVALID_HANDLE_VALUE) {
      COMMTIMEOUTS t = {MAXDWORD, MAXDWORD, 100, 0, 100};
      SetCommTimeouts(port, &t);
      static BYTE sink[4096];
      deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!finished_ && std::chrono::steady_clock::now() < deadline) {
        DWORD got = 0;
        ReadFile(port, sink, sizeof sink, &got, nullptr);
      }
      CloseHandle(port);
    }
  }
  if (finished_) {
    thread_.join();
  } else {
    std::fprintf(stderr, "InProcessHandset: handset thread stuck; detached\n");
    thread_.detach();
  }
}

bool InProcessHandset::WaitForGoodbye(int count, int timeoutMs) {
  return handset_.WaitForRequest(255, 1, 2, count, timeoutMs);
}

Message ConnectAndLogIn(const InProcessHandset& handset) {
  if (!OpenCorePort(handset.PortName())) return MSG_OPEN_FAILED;
  g_currentPin = 1234;
  return LogIn();
}

bool HangUp(InProcessHandset& handset) {
  if (g_port == INVALID_HANDLE_VALUE) return true;
  SendGoodbye();
  const bool heard = handset.WaitForGoodbye();
  CloseHandle(g_port);
  g_port = INVALID_HANDLE_VALUE;
  return heard;
}

void RegisterHandset(const InProcessHandset& handset, bool storePin, DWORD pin) {
  RegisterDriver(L"01", kTestDriverKey, handset.PortName());
  // The desktop registry decides where driver keys live when the search opens
  // Drivers\Active; open it as the search does, so that the PIN goes where the
  // next search looks (on a fresh Wine prefix the last open saw no entries).
  HKEY active;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Drivers\\Active", 0, KEY_READ, &active) == ERROR_SUCCESS)
    RegCloseKey(active);
  std::wcsncpy(g_driverKeyPath, kTestDriverKey, kPathUnits - 1);
  g_driverKeyPath[kPathUnits - 1] = 0;
  if (storePin) {
    DWORD keep = g_currentPin;
    g_currentPin = pin;
    WriteStoredPin();
    g_currentPin = keep;
  } else {
    DeleteStoredPin();
  }
}
