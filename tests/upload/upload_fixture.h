// What the upload tests share: a temporary folder for local files, the core's
// port opened on a peer, and a scripted handset that records every request.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "link/messages.h"
#include "link/state.h"
#include "tests/support/peer.h"
#include "tests/support/test_frontend.h"

namespace fs = std::filesystem;

inline fs::path MakeTempDir() {
  std::random_device rd;
  for (;;) {
    fs::path dir = fs::temp_directory_path() / ("palvo-upload-" + std::to_string(rd()));
    if (fs::create_directory(dir)) return dir;
  }
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string Le32(std::uint32_t n) {
  return std::string{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                     static_cast<char>(n >> 24)};
}

// One field of a field record: 0x1E, tag, type, length, data.
inline std::string Field(int tag, int type, const std::string& data) {
  return std::string{'\x1E', static_cast<char>(tag), static_cast<char>(type)} +
         Le32(static_cast<std::uint32_t>(data.size())) + data;
}

inline std::uint32_t AnnouncedLength(const ReceivedRequest& r) {
  return r.header[4] | (r.header[5] << 8) | (r.header[6] << 16) |
         (static_cast<std::uint32_t>(r.header[7]) << 24);
}

// The reply a scripted handset gives to one request; `silent` sends nothing.
struct Reply {
  std::string payload = "0";
  bool silent = false;
};
using ReplyRule = std::function<Reply(const ReceivedRequest&, std::size_t index)>;

inline Reply AcceptAll(const ReceivedRequest&, std::size_t) { return Reply(); }

// Answers requests on its own thread until Finish(); then hands back what it
// received, in order.
class ScriptedHandset {
 public:
  ScriptedHandset(PeerPort& peer, ReplyRule rule)
      : peer_(peer), rule_(std::move(rule)), thread_([this] { Serve(); }) {}
  ~ScriptedHandset() { Finish(); }

  std::vector<ReceivedRequest> Finish() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return requests_;
  }

 private:
  void Serve() {
    for (;;) {
      std::uint8_t first = 0;
      if (peer_.Read(&first, 1, 100) == 0) {
        if (done_) return;
        continue;
      }
      ReceivedRequest r;
      r.header.assign(12, 0);
      r.header[0] = first;
      if (!peer_.ReadExact(r.header.data() + 1, 11, 5000)) return;
      r.code = (r.header[2] << 8) | r.header[3];
      r.group = r.header[9];
      r.operation = r.header[11];
      const std::uint32_t length = AnnouncedLength(r);
      r.payload.assign(length >= 4 ? length - 4 : 0, '\0');
      if (!r.payload.empty() && !peer_.ReadExact(r.payload.data(), r.payload.size(), 20000)) return;
      requests_.push_back(r);
      const Reply reply = rule_(r, requests_.size() - 1);
      if (!reply.silent) peer_.Write(ResponseFrame(3, r.group, r.operation, reply.payload));
    }
  }

  PeerPort& peer_;
  ReplyRule rule_;
  std::atomic<bool> done_{false};
  std::vector<ReceivedRequest> requests_;
  std::thread thread_;
};

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestProcess();
    ASSERT_TRUE(peer_.ok());
    ASSERT_TRUE(OpenCorePort(peer_.PortName()));
    dir_ = MakeTempDir();
  }
  void TearDown() override {
    if (g_port != INVALID_HANDLE_VALUE) CloseHandle(g_port);
    g_port = INVALID_HANDLE_VALUE;
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // A local file in the test's folder; its path as the core takes it.
  std::wstring LocalFile(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    WriteBytes(path, bytes);
    return path.wstring();
  }

  // Runs an upload against a scripted handset; the requests it received.
  std::vector<ReceivedRequest> Run(const std::function<Message()>& upload, Message* result,
                                   ReplyRule rule = AcceptAll) {
    ScriptedHandset handset(peer_, std::move(rule));
    *result = upload();
    return handset.Finish();
  }

  PeerPort peer_;
  fs::path dir_;
};

// The uploads of one text file kind (bookmarks, address book, mail): the file
// under the name its download writes, uploaded by that kind's step.
class TextUploadTest : public UploadTest {
 protected:
  TextUploadTest(const char* localName, Message (*upload)(const WCHAR* path))
      : localName_(localName), upload_(upload) {}

  std::vector<ReceivedRequest> Upload(const std::string& file, Message* result,
                                      ReplyRule rule = AcceptAll) {
    const std::wstring path = LocalFile(localName_, file);
    return Run([&] { return upload_(path.c_str()); }, result, std::move(rule));
  }

  // A file the upload refuses before it sends anything: its message.
  Message Check(const std::string& file) {
    Message result;
    auto requests = Upload(file, &result);
    EXPECT_TRUE(requests.empty()) << "a refused file sends nothing";
    return result;
  }

  // A bulk upload of group (start payload `start`): the records between the
  // start and preparation requests and the end, with the frame around them
  // checked.
  std::vector<std::string> BulkRecords(const std::vector<ReceivedRequest>& requests, unsigned group,
                                       const std::string& start) {
    std::vector<std::string> records;
    EXPECT_GE(requests.size(), 3u);
    if (requests.size() < 3) return records;
    EXPECT_EQ(requests[0].operation, 4u);
    EXPECT_EQ(requests[0].payload, start);
    EXPECT_EQ(requests[1].operation, 5u);
    EXPECT_EQ(requests[1].payload, "");
    EXPECT_EQ(requests.back().operation, 6u);
    EXPECT_EQ(requests.back().payload, "");
    for (std::size_t i = 0; i < requests.size(); ++i) {
      EXPECT_EQ(requests[i].code, 3u);
      EXPECT_EQ(requests[i].group, group);
      if (i >= 2 && i + 1 < requests.size()) {
        EXPECT_EQ(requests[i].operation, 3u);
        EXPECT_EQ(AnnouncedLength(requests[i]), requests[i].payload.size() + 4);
        records.push_back(requests[i].payload);
      }
    }
    return records;
  }

 private:
  const char* localName_;
  Message (*upload_)(const WCHAR* path);
};

// Message texts compare by content: null (success) prints as "(none)".
inline std::wstring Text(Message m) { return m ? std::wstring(m) : std::wstring(L"(none)"); }
