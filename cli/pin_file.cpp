// The PIN read from a file, for runs nobody attends (scheduled backups). A
// file that others may read would give the PIN away: it is refused.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"

#ifdef _WIN32
#include <aclapi.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int kMostBytes = 64;  // a PIN and its line end; anything longer is no PIN file

// Four digits, blanks (and a line end) around them allowed.
bool ParsePin(const char* text, std::size_t n, DWORD* pin) {
  std::size_t i = 0;
  auto blank = [&](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (i < n && blank(text[i])) ++i;
  DWORD value = 0;
  int digits = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
    value = value * 10 + static_cast<DWORD>(text[i] - '0');
  while (i < n && blank(text[i])) ++i;
  if (i != n || digits != 4) return false;
  *pin = value;
  return true;
}

#ifdef _WIN32
// Only the owner, the system and the administrators may read it: every other
// entry that allows reading is one too many.
bool OnlyOwnerReads(HANDLE file, std::wstring* problem) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status =
      GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, nullptr, &dacl, nullptr, &descriptor);
  if (status != ERROR_SUCCESS) {
    *problem = InLanguage(L"its permissions cannot be read: ", L"アクセス権が読めません: ") +
               SystemReason(status);
    return false;
  }
  bool only = dacl != nullptr;  // no list at all lets everyone in
  const DWORD reading = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL | MAXIMUM_ALLOWED;
  for (DWORD i = 0; only && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
      continue;
    const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if (!(allowed->Mask & reading)) continue;
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if ((owner && EqualSid(sid, owner)) || IsWellKnownSid(sid, WinLocalSystemSid) ||
        IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
      continue;
    only = false;
  }
  LocalFree(descriptor);
  if (!only)
    *problem = InLanguage(L"others may read it: let only its owner read it",
                          L"ほかの人も読めます: 持ち主だけが読めるようにしてください");
  return only;
}
#endif

}  // namespace

bool ReadPinFile(const std::wstring& path, DWORD* pin, std::wstring* problem) {
  char text[kMostBytes + 1];
  std::size_t n = 0;
#ifdef _WIN32
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *problem = SystemReason(GetLastError());
    return false;
  }
  bool ok = OnlyOwnerReads(file, problem);
  DWORD got = 0;
  if (ok && !ReadFile(file, text, sizeof text, &got, nullptr)) {
    *problem = SystemReason(GetLastError());
    ok = false;
  }
  CloseHandle(file);
  if (!ok) return false;
  n = got;
#else
  const std::string native = ToUtf8(path.c_str());
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    *problem = SystemReason(errno);
    return false;
  }
  // Asked of the file opened, not of the name: it cannot change in between.
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    *problem = SystemReason(errno);
  } else if (!S_ISREG(st.st_mode)) {
    *problem = InLanguage(L"not a regular file", L"通常のファイルではありません");
    ok = false;
  } else if (st.st_uid != ::geteuid()) {
    *problem = InLanguage(L"it belongs to another user", L"ほかのユーザーのファイルです");
    ok = false;
  } else if (st.st_mode & 077) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    *problem = InLanguage(L"others may read it (mode ", L"ほかの人も読めます (モード ") +
               FromUtf8(mode) + InLanguage(L"): chmod 600 it", L"): chmod 600 してください");
    ok = false;
  }
  if (ok) {
    const ssize_t got = ::read(fd, text, sizeof text);
    if (got < 0) {
      *problem = SystemReason(errno);
      ok = false;
    } else {
      n = static_cast<std::size_t>(got);
    }
  }
  ::close(fd);
  if (!ok) return false;
#endif
  const bool parsed = n <= kMostBytes && ParsePin(text, n, pin);
  std::memset(text, 0, sizeof text);
  if (!parsed)
    *problem = InLanguage(L"it does not hold a four-digit PIN", L"4桁の暗証番号が入っていません");
  return parsed;
}
