// What the link tests share: a fresh process with a peer on the far end of
// the port, and a few registry helpers for the driver key and PalvoPass.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/port.h"
#include "link/state.h"
#include "tests/support/peer.h"
#include "tests/support/test_frontend.h"

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestProcess();
    ASSERT_TRUE(peer.ok());
  }
  void TearDown() override { ClosePort(); }

  PeerPort peer;
};

// Creates HKLM\path (the handset driver's own key, where PalvoPass lives)
// without a PalvoPass value: under Wine the registry outlives each test.
inline void CreateDriverKey(const WCHAR* path) {
  HKEY key;
  DWORD disposition;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  RegDeleteValueW(key, L"PalvoPass");
  RegCloseKey(key);
}

// The raw PalvoPass word under the driver key; false when there is none.
inline bool ReadRawPin(const WCHAR* driverKey, DWORD* word, DWORD* type = nullptr) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, driverKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  DWORD bytes = sizeof(*word);
  DWORD valueType = REG_NONE;
  const LSTATUS status = RegQueryValueExW(key, L"PalvoPass", nullptr, &valueType,
                                          reinterpret_cast<BYTE*>(word), &bytes);
  RegCloseKey(key);
  if (type) *type = valueType;
  return status == ERROR_SUCCESS;
}

inline void WriteRawValue(const WCHAR* driverKey, DWORD type, const void* data, DWORD bytes) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, driverKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  RegSetValueExW(key, L"PalvoPass", 0, type, static_cast<const BYTE*>(data), bytes);
  RegCloseKey(key);
}

// Nothing more arrives from the core within ms.
inline bool PeerHearsNothing(PeerPort& peer, int ms = 300) {
  std::uint8_t byte;
  return peer.Read(&byte, 1, ms) == 0;
}

inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> bytes;
  for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
  return bytes;
}

inline long ElapsedMs(std::chrono::steady_clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - since)
                               .count());
}

inline void PauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
