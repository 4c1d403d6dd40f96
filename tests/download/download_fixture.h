// What the download tests share: a fresh process whose port leads to a
// scripted handset, a temporary folder, and helpers for frames and files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/download.h"
#include "download/field_record.h"
#include "link/frame.h"
#include "link/messages.h"
#include "link/state.h"
#include "tests/support/peer.h"
#include "tests/support/row_view.h"
#include "tests/support/test_frontend.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

namespace fs = std::filesystem;

inline void PauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

inline std::string ReadLocal(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteLocal(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary);
  out << bytes;
}

// The names of a folder's files in order, part files of a download included.
inline std::vector<std::string> FileNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A folder path as the program writes it: backslashes (the stand-in maps
// them to slashes), ending in one.
inline std::wstring FolderPath(const fs::path& folder) {
  std::wstring w = folder.wstring();
  for (auto& c : w)
    if (c == L'/') c = L'\\';
  if (w.empty() || w.back() != L'\\') w += L'\\';
  return w;
}

// One field of a record: 0x1E, tag, type, little-endian length, data.
inline std::string Field(int tag, const std::string& data, int type = 1) {
  std::string f = {'\x1E', static_cast<char>(tag), static_cast<char>(type)};
  const std::uint32_t n = static_cast<std::uint32_t>(data.size());
  for (int i = 0; i < 4; ++i) f += static_cast<char>((n >> (8 * i)) & 0xFF);
  return f + data;
}

inline std::string Record(std::initializer_list<std::string> fields) {
  std::string r = "\x1C";
  for (const auto& f : fields) r += f;
  return r;
}

// Bytes 0..n-1 of a repeating, position-dependent pattern.
inline std::string Pattern(std::size_t n, unsigned seed = 0) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xFF);
  return s;
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestProcess();
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(OpenCorePort(peer.PortName()));
    static int serial = 0;
    folder = fs::temp_directory_path() /
             ("palvo-download-" +
              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
              std::to_string(++serial));
    fs::create_directories(folder);
    SetPath(FolderPath(folder));
  }
  void TearDown() override {
    if (g_port != INVALID_HANDLE_VALUE) CloseHandle(g_port);
    g_port = INVALID_HANDLE_VALUE;
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  void SetPath(const std::wstring& p) {
    ASSERT_LT(p.size(), static_cast<std::size_t>(kPathUnits));
    std::wmemcpy(path, p.c_str(), p.size() + 1);
  }
  std::wstring FilePath(const std::string& name) {
    return FolderPath(folder) + std::wstring(name.begin(), name.end());
  }

  // Peer side, on the script thread: the next request, logged for the test.
  ReceivedRequest Next() {
    ReceivedRequest r;
    const bool ok = ReadRequest(peer, &r, 5000);
    std::lock_guard<std::mutex> lock(logMutex);
    if (ok)
      log.push_back(r);
    else
      log.push_back(ReceivedRequest{{}, 0xFFFF, 0, 0, "(none)"});
    return r;
  }
  void Send(unsigned code, unsigned group, unsigned op, const std::string& payload) {
    peer.Write(ResponseFrame(code, group, op, payload));
  }
  // Nothing more from the core within ms.
  bool Quiet(int ms = 300) {
    std::uint8_t byte;
    return peer.Read(&byte, 1, ms) == 0;
  }

  std::vector<std::string> Names() { return FileNames(folder); }

  // The logged requests as "code/group/operation:payload" texts.
  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(logMutex);
    std::vector<std::string> out;
    for (const auto& r : log)
      out.push_back(std::to_string(r.code) + "/" + std::to_string(r.group) + "/" +
                    std::to_string(r.operation) + ":" + r.payload);
    return out;
  }

  PeerPort peer;
  fs::path folder;
  WCHAR path[kPathUnits] = {};
  std::mutex logMutex;
  std::vector<ReceivedRequest> log;
};

#ifndef _WIN32
// While it lives, no file of this process grows past `bytes`: the kernel stops
// a write part-way, as a full disk does. Only the native build has it.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {bytes, saved_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  struct rlimit saved_ = {};
  void (*oldHandler_)(int) = nullptr;
};
#endif

#ifdef _WIN32
// Under Wine drive Z: is the Linux root, and its full device refuses every
// write as a full disk does.
constexpr const WCHAR* kFullDevice = L"Z:\\dev\\full";
inline bool HaveFullDevice() {
  HANDLE h = CreateFileW(kFullDevice, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}
#endif

inline std::wstring W(const WCHAR* message) { return message ? message : L"(success)"; }

constexpr const char* kAck = "16/9/16:0";
