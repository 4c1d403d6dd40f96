// What the fault, allocation and security tests share: a simulated handset on
// the port the registry names, the commands' own entry points (listing,
// download of rows, upload of a local file) and a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "download/listing.h"
#include "handset/content.h"
#include "link/frame.h"
#include "link/messages.h"
#include "link/state.h"
#include "tests/support/handset_peer.h"
#include "tests/support/row_view.h"
#include "tests/support/test_frontend.h"
#include "upload/upload.h"

namespace fs = std::filesystem;

inline std::wstring Shown(Message m) { return m ? std::wstring(m) : std::wstring(L"(success)"); }

inline std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Bytes that never hold the response marker pair 0xE1 0x02.
inline std::string Filler(std::size_t n, unsigned seed = 0) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(0x20 + (i * 7 + seed) % 90);
  return s;
}

// A path as the program keeps it: backslashes (the stand-in maps them).
inline std::wstring ProgramPath(const fs::path& p) {
  std::wstring w = p.wstring();
  for (auto& c : w)
    if (c == L'/') c = L'\\';
  return w;
}

inline void SetLastPath(const std::wstring& p) {
  ASSERT_LT(p.size(), static_cast<std::size_t>(kPathUnits));
  std::wmemcpy(g_lastPath, p.c_str(), p.size() + 1);
}

inline int RowCount() { return static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0)); }

inline int RowIcon(int row) {
  LVITEMW item = {};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return item.iImage;
}

// Selects exactly the row whose icon is `icon` (and, for files, whose text is
// `text`), as the user would click it. False when there is no such row.
inline bool SelectOnly(int icon, const std::wstring& text = L"") {
  int found = -1;
  for (int row = 0; row < RowCount(); ++row) {
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED;
    SendMessageW(g_listView, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&state));
    if (found < 0 && RowIcon(row) == icon && (text.empty() || CellText(row) == text)) found = row;
  }
  if (found < 0) return false;
  LVITEMW state = {};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(g_listView, LVM_SETITEMSTATE, static_cast<WPARAM>(found),
               reinterpret_cast<LPARAM>(&state));
  SendMessageW(g_listView, LVM_SETSELECTIONMARK, 0, found);
  return true;
}

inline fs::path MakeFolder(const char* stem) {
  std::random_device rd;
  for (;;) {
    fs::path dir = fs::temp_directory_path() / (std::string(stem) + std::to_string(rd()));
    if (fs::create_directory(dir)) return dir;
  }
}

// A handset with a little of everything, registered as the one handset
// driver, its PIN stored; a listing view; a temporary folder.
class HandsetFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestProcess();
    g_silenceLimitMs = 1000;
    folder = MakeFolder("palvo-faults-");
    ASSERT_TRUE(UseRowView());
    Plug(Content());
  }
  void TearDown() override {
    hs.reset();
    DropRowView();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  // A fresh handset on a fresh port (after one vanished).
  void Plug(const handset::Content& content) {
    hs.reset();
    hs = std::make_unique<InProcessHandset>(content);
    ASSERT_TRUE(hs->ok());
    RegisterHandset(*hs, /*storePin=*/true);
  }

  static handset::Content Content() {
    handset::Content c;
    c.files.push_back({"photo.jpg", "image", Filler(3000, 1), "2026/12/01 10:00"});
    c.files.push_back({"memo.txt", "other", "memo\r\n", "2026/12/02 11:00"});
    c.bookmarks.push_back({0, 1, "top", "http://example.jp/"});
    c.bookmarks.push_back({2, 7, "\x83\x65\x83\x58\x83\x67", "http://example.jp/?a=1"});
    c.addresses.push_back("BEGIN:VCARD\r\nVERSION:2.1\r\nN:a;b\r\nTEL:0901\r\nEND:VCARD\r\n");
    c.addresses.push_back("BEGIN:VCARD\r\nN:c\r\nEND:VCARD\r\n");
    c.lightMails.push_back(
        {true, {"l1", "l2", "2026/12/03 12:00", "l4"}, "one", "", "light body\r\n"});
    c.mails.push_back({false, {"from", "to", "2026/12/04 13:00", "subject"}, "", "", "short\r\n"});
    // Longer than one frame can hold.
    c.mails.push_back({false, {"from", "to", "2026/12/04 13:00", "long"}, "", "", Filler(6000, 3)});
    return c;
  }

  handset::Handset& H() { return hs->handset(); }

  std::unique_ptr<InProcessHandset> hs;
  fs::path folder;
};
