// Files, directory search and process services of the Linux stand-in.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/win32.h"

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "palvo-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir = templ;
  }
  void TearDown() override { fs::remove_all(dir); }

  // The program's form of a path here: backslashes.
  std::wstring Win(const std::string& name) const {
    WCHAR wide[MAX_PATH];
    EXPECT_GT(MultiByteToWideChar(CP_UTF8, 0, (dir / name).c_str(), -1, wide, MAX_PATH), 0);
    for (WCHAR* c = wide; *c; ++c)
      if (*c == L'/') *c = L'\\';
    return wide;
  }
  void Put(const std::string& name, const std::string& content) const {
    std::ofstream(dir / name, std::ios::binary) << content;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(dir / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir;
};

TEST_F(FilesTest, DispositionsCreateOpenAndTruncate) {
  const std::wstring path = Win("a.txt");
  EXPECT_EQ(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
      INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "hello", 5, &n, nullptr));
  EXPECT_EQ(n, 5u);
  char one;
  EXPECT_FALSE(ReadFile(h, &one, 1, &n, nullptr));  // opened for writing only
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(Get("a.txt"), "hello");

  EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 80u);  // ERROR_FILE_EXISTS

  h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 183u);  // ERROR_ALREADY_EXISTS: opened, kept
  char buf[16] = {};
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "hello");
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));  // end of file: success, 0
  EXPECT_EQ(n, 0u);
  CloseHandle(h);

  h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 183u);
  CloseHandle(h);
  EXPECT_EQ(Get("a.txt"), "");

  EXPECT_EQ(CreateFileW(Win("no\\such\\dir.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 3u);  // ERROR_PATH_NOT_FOUND
  // A folder or a FIFO is no file (and opening a FIFO must not hang).
  EXPECT_EQ(CreateFileW(Win("").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                        nullptr),
            INVALID_HANDLE_VALUE);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(CreateFileW(Win("fifo").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FilesTest, ShareModeZeroIsExclusiveAndKeepsTheContentOnRefusal) {
  Put("x.bin", "keep me");
  const std::wstring path = Win("x.bin");
  HANDLE reader =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE second = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);  // sharing opens go together
  CloseHandle(second);
  // An exclusive create-always must neither open nor truncate while shared.
  EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(Get("x.bin"), "keep me");
  CloseHandle(reader);

  HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
      INVALID_HANDLE_VALUE);
  CloseHandle(exclusive);
}

TEST_F(FilesTest, PointerSizeAndTimes) {
  Put("s.bin", "0123456789");
  HANDLE h = CreateFileW(Win("s.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(h, &high), 10u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
  EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_CURRENT), 6u);
  EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_END), 7u);
  char c = 0;
  DWORD n = 0;
  EXPECT_TRUE(ReadFile(h, &c, 1, &n, nullptr));
  EXPECT_EQ(c, '7');
  EXPECT_EQ(SetFilePointer(h, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), 131u);  // ERROR_NEGATIVE_SEEK; the position stays
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 8u);

  // Past 4 GiB (a sparse file): the high words carry the rest.
  LONG hi = 1;
  EXPECT_EQ(SetFilePointer(h, 5, &hi, FILE_BEGIN), 5u);
  EXPECT_EQ(hi, 1);
  EXPECT_TRUE(WriteFile(h, "z", 1, &n, nullptr));
  EXPECT_EQ(GetFileSize(h, &high), 6u);
  EXPECT_EQ(high, 1u);

  FILETIME created, written;
  ASSERT_TRUE(GetFileTime(h, &created, nullptr, &written));
  const unsigned long long w =
      (static_cast<unsigned long long>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  const unsigned long long now =
      (static_cast<unsigned long long>(::time(nullptr)) + 11644473600ULL) * 10000000ULL;
  EXPECT_LT(w > now ? w - now : now - w, 600ULL * 10000000ULL);  // within minutes of now
  CloseHandle(h);

  EXPECT_EQ(GetFileSize(INVALID_HANDLE_VALUE, nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(h));  // a closed handle is no handle
}

TEST_F(FilesTest, ShortWriteOnAFullDiskReportsWhatWasWritten) {
  // The file size limit makes the kernel stop a write part-way, as a full disk would.
  const std::wstring path = Win("full.bin");
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {1000, 1000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    static char data[3000];
    DWORD n = 12345;
    const BOOL ok = WriteFile(h, data, sizeof data, &n, nullptr);
    ::_exit(!ok && n == 1000 && GetLastError() == ERROR_DISK_FULL ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(fs::file_size(dir / "full.bin"), 1000u);
}

TEST_F(FilesTest, FindMatchesWildcardsWithoutRegardToCase) {
  for (const char* name : {"mail000.txt", "MAIL001.TXT", "mail01.txt", "mailboxes.txt", "other.txt",
                           "mail002.txt.bak", "メール.txt"})
    Put(name, "x");
  fs::create_directory(dir / "mail999.txt");
  auto find = [&](const std::string& pattern) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(Win(pattern).c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
      names.insert(data.cFileName);
    } while (FindNextFileW(h, &data));
    EXPECT_EQ(GetLastError(), 18u);  // ERROR_NO_MORE_FILES
    EXPECT_TRUE(FindClose(h));
    return names;
  };
  EXPECT_EQ(find("mail*.txt"),
            (std::set<std::wstring>{L"mail000.txt", L"MAIL001.TXT", L"mail01.txt", L"mailboxes.txt",
                                    L"mail999.txt"}));
  EXPECT_EQ(find("MAIL???.txt"),
            (std::set<std::wstring>{L"mail000.txt", L"MAIL001.TXT", L"mail999.txt"}));
  EXPECT_EQ(find("*.*").size(), 8u);  // every entry, no "." or ".."
  EXPECT_EQ(find("メ*"), (std::set<std::wstring>{L"メール.txt"}));
  EXPECT_EQ(find("OTHER.TXT"), (std::set<std::wstring>{L"other.txt"}));

  WIN32_FIND_DATAW data;
  EXPECT_EQ(FindFirstFileW(Win("nothing*.txt").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FindFirstFileW(Win("nodir\\*").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 3u);

  HANDLE h = FindFirstFileW(Win("mail999.txt").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);
  h = FindFirstFileW(Win("other.txt").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 1u);
  EXPECT_FALSE(CloseHandle(h));  // a search is closed by FindClose only
  EXPECT_TRUE(FindClose(h));
}

TEST_F(FilesTest, DeleteAndCreateDirectory) {
  Put("d.txt", "x");
  EXPECT_TRUE(DeleteFileW(Win("d.txt").c_str()));
  EXPECT_FALSE(DeleteFileW(Win("d.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(CreateDirectoryW(Win("sub").c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryW(Win("sub").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), 183u);
  EXPECT_FALSE(DeleteFileW(Win("sub").c_str()));  // not for folders
  EXPECT_TRUE(fs::is_directory(dir / "sub"));
}

TEST_F(FilesTest, MoveReplacesOnlyWhenAskedAndAttributesTellFoldersAndDevices) {
  Put("new.part", "new");
  Put("old.txt", "old");
  EXPECT_FALSE(MoveFileExW(Win("new.part").c_str(), Win("old.txt").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(Get("old.txt"), "old");
  EXPECT_TRUE(
      MoveFileExW(Win("new.part").c_str(), Win("old.txt").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Get("old.txt"), "new");
  EXPECT_FALSE(fs::exists(dir / "new.part"));
  EXPECT_FALSE(
      MoveFileExW(Win("new.part").c_str(), Win("old.txt").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  fs::create_directories(dir / "sub");
  EXPECT_EQ(GetFileAttributesW(Win("sub").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(Win("old.txt").c_str()) &
                (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE),
            0u);
  EXPECT_EQ(GetFileAttributesW(L"\\dev\\null") & FILE_ATTRIBUTE_DEVICE, FILE_ATTRIBUTE_DEVICE);
  EXPECT_EQ(GetFileAttributesW(Win("none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, SetFileTimeSetsTheLastWriteTime) {
  Put("t.txt", "x");
  HANDLE h =
      CreateFileW(Win("t.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const SYSTEMTIME when = {2005, 4, 0, 1, 9, 30, 15, 0};
  FILETIME t;
  ASSERT_TRUE(SystemTimeToFileTime(&when, &t));
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &t));
  CloseHandle(h);
  struct stat st;
  ASSERT_EQ(::stat((dir / "t.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1112347815);  // 2005-04-01 09:30:15 UTC
  EXPECT_FALSE(SetFileTime(INVALID_HANDLE_VALUE, nullptr, nullptr, &t));
}

// Ticks of 100 ns since 1601 as one number.
unsigned long long Ticks(const FILETIME& t) {
  return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

TEST(TimeTest, SystemTimesBecomeFileTimesAndBadFieldsAreRefused) {
  const struct {
    SYSTEMTIME time;
    long long seconds;  // since 1601; -1: refused
  } cases[] = {
      {{1601, 1, 0, 1, 0, 0, 0, 0}, 0},
      {{1970, 1, 0, 1, 0, 0, 0, 0}, 11644473600LL},
      {{2000, 2, 0, 29, 23, 59, 59, 0}, 11644473600LL + 951868799LL},
      {{2001, 2, 0, 29, 0, 0, 0, 0}, -1},
      {{1900, 2, 0, 29, 0, 0, 0, 0}, -1},
      {{2005, 13, 0, 1, 0, 0, 0, 0}, -1},
      {{2005, 4, 0, 31, 0, 0, 0, 0}, -1},
      {{2005, 4, 0, 1, 24, 0, 0, 0}, -1},
      {{2005, 4, 0, 1, 0, 60, 0, 0}, -1},
      {{1600, 12, 0, 31, 0, 0, 0, 0}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.time.wYear * 10000 + c.time.wMonth * 100 + c.time.wDay);
    FILETIME t = {};
    EXPECT_EQ(SystemTimeToFileTime(&c.time, &t) != 0, c.seconds >= 0);
    if (c.seconds >= 0) {
      EXPECT_EQ(Ticks(t), static_cast<unsigned long long>(c.seconds) * 10000000);
    }
  }
}

TEST(TimeTest, LocalTimesFollowTheZoneAndItsSummerTimeOfThatDate) {
  const char* saved = std::getenv("TZ");
  const std::string before = saved ? saved : "";
  const struct {
    const char* zone;
    SYSTEMTIME local;
    WORD hour, day;  // in UTC
  } cases[] = {
      {"JST-9", {2006, 2, 0, 28, 23, 59, 0, 0}, 14, 28},
      {"JST-9", {2006, 3, 0, 1, 8, 0, 0, 0}, 23, 28},
      {"CET-1CEST,M3.5.0,M10.5.0/3", {2005, 1, 0, 15, 12, 0, 0, 0}, 11, 15},
      {"CET-1CEST,M3.5.0,M10.5.0/3", {2005, 7, 0, 15, 12, 0, 0, 0}, 10, 15},
  };
  for (const auto& c : cases) {
    ::setenv("TZ", c.zone, 1);
    ::tzset();
    SYSTEMTIME utc = {};
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &c.local, &utc)) << c.zone;
    EXPECT_EQ(utc.wHour, c.hour) << c.zone;
    EXPECT_EQ(utc.wDay, c.day) << c.zone;
    EXPECT_EQ(utc.wMinute, c.local.wMinute) << c.zone;
  }
  const SYSTEMTIME bad = {2005, 2, 0, 30, 0, 0, 0, 0};
  SYSTEMTIME utc;
  EXPECT_FALSE(TzSpecificLocalTimeToSystemTime(nullptr, &bad, &utc));
  if (saved)
    ::setenv("TZ", before.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

TEST(ProcessTest, TickModulePathStringsAndMemory) {
  const DWORD start = GetTickCount();
  Sleep(50);
  const DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 50u);
  EXPECT_LT(elapsed, 10000u);  // milliseconds, not microseconds

  WCHAR path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::wcslen(path), n);
  EXPECT_EQ(path[0], L'\\');
  EXPECT_EQ(std::wcschr(path, L'/'), nullptr);
  EXPECT_NE(std::wcsstr(path, L"test_platform"), nullptr);
  WCHAR small[4];
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 4u);  // truncated, terminated
  EXPECT_EQ(small[3], 0);

  EXPECT_EQ(_wcsicmp(L"Drivers\\USB", L"dRIVERS\\usb"), 0);
  EXPECT_LT(_wcsicmp(L"a_", L"AB"), 0);  // folded to lower case: '_' < 'b'
  EXPECT_NE(_wcsicmp(L"Ä", L"ä"), 0);    // ASCII only
  EXPECT_EQ(_wcsnicmp(L"MAIL123", L"mailxyz", 4), 0);
  EXPECT_NE(_wcsnicmp(L"MAIL123", L"mailxyz", 5), 0);

  BYTE* block = static_cast<BYTE*>(LocalAlloc(LPTR, 4097));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[4096], 0);
  EXPECT_EQ(LocalFree(block), nullptr);
}
