// Process services as Windows CE has them: a thread's last error, a tick count
// in milliseconds that wraps after 49.7 days, Sleep, the program's own path
// (Windows-looking, with backslashes), and LocalAlloc/LocalFree on the heap.
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_internal.h"

static thread_local DWORD t_lastError = 0;

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

long long MonotonicMs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

DWORD GetTickCount() { return static_cast<DWORD>(MonotonicMs()); }

void Sleep(DWORD ms) {
  if (ms == 0) {
    ::sched_yield();
    return;
  }
  struct timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// Only the program's own module exists here, whatever handle is passed.
// Like Windows: the length without terminator, or size (truncated, still
// terminated) with ERROR_INSUFFICIENT_BUFFER when the buffer is too small.
DWORD GetModuleFileNameW(HMODULE, LPWSTR name, DWORD size) {
  char path[kPosixPathBytes];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) {
    SetLastErrorFromErrno();
    return 0;
  }
  path[n] = 0;
  WCHAR wide[kPosixPathBytes];
  if (!Utf8ToWide(path, static_cast<std::size_t>(n), wide, kPosixPathBytes, true)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  if (size == 0 || !name) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  DWORD i = 0;
  for (; wide[i] && i + 1 < size; ++i) name[i] = wide[i] == L'/' ? L'\\' : wide[i];
  name[i] = 0;
  if (wide[i]) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  SetLastError(ERROR_SUCCESS);
  return i;
}

HLOCAL LocalAlloc(UINT flags, std::size_t bytes) {
  if (bytes == 0) bytes = 1;        // Windows hands out a block for 0 bytes too
  constexpr UINT kZeroInit = 0x40;  // LMEM_ZEROINIT, the part of LPTR that matters
  void* p = (flags & kZeroInit) ? std::calloc(1, bytes) : std::malloc(bytes);
  if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return p;
}

HLOCAL LocalFree(HLOCAL mem) {
  std::free(mem);
  return nullptr;
}
