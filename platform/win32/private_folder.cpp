#include "platform/win32/private_folder.h"

#include <sddl.h>

#include <cwchar>

SECURITY_ATTRIBUTES* OwnerOnlySecurity() {
  static SECURITY_ATTRIBUTES attributes;
  static bool made = false, tried = false;
  if (tried) return made ? &attributes : nullptr;
  tried = true;

  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } owner;
  DWORD size = 0;
  const BOOL known = GetTokenInformation(token, TokenUser, &owner, sizeof owner, &size);
  CloseHandle(token);
  WCHAR* sid = nullptr;
  if (!known || !ConvertSidToStringSidW(owner.user.User.Sid, &sid)) return nullptr;

  // P: protected from the folder above; OICI: passed on to files and folders.
  WCHAR sddl[256];
  const int n = std::swprintf(sddl, sizeof sddl / sizeof sddl[0],
                              L"D:P(A;OICI;FA;;;%ls)(A;OICI;FA;;;SY)", sid);
  LocalFree(sid);
  PSECURITY_DESCRIPTOR descriptor = nullptr;  // kept for the whole run
  if (n <= 0 || !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                      &descriptor, nullptr))
    return nullptr;
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = FALSE;
  made = true;
  return &attributes;
}
