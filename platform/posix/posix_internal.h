// What the stand-in's own files share and the core never sees: the table of
// objects behind a HANDLE, path and UTF-8 conversion, and the mapping of errno
// to the Win32 error codes that GetLastError reports.
#pragma once

#include <dirent.h>
#include <termios.h>

#include <cstddef>

#include "platform/posix/win32_posix.h"

constexpr std::size_t kPosixPathBytes = 4096;  // PATH_MAX

enum class HandleKind : int { Free, File, Serial, Find };

// One open HANDLE. The fields past fd belong to one kind each.
struct PosixHandle {
  HandleKind kind;
  int fd;
  COMMTIMEOUTS timeouts;          // serial
  struct termios saved;           // serial: the settings it had before, put back at close
  int savedLines;                 // serial: its DTR and RTS before, -1 when it has none
  bool breakOn;                   // serial: a break is being sent
  DIR* dir;                       // find: the directory being listed
  char dirPath[kPosixPathBytes];  // find: that directory, ending with '/'
  WCHAR pattern[MAX_PATH];        // find: the last component, wildcards and all
};

// A fixed table: no allocation per open. Null (ERROR_TOO_MANY_OPEN_FILES) when full.
PosixHandle* AllocHandle(HandleKind kind);
// The object behind h if it is open and of that kind; else null with ERROR_INVALID_HANDLE.
PosixHandle* LookupHandle(HANDLE h, HandleKind kind);
// Any open kind; null with ERROR_INVALID_HANDLE.
PosixHandle* LookupAnyHandle(HANDLE h);
void FreeHandle(PosixHandle* p);

// Wide program path to a Linux one: UTF-8, every backslash a slash. False
// (with a last error) when it does not fit or holds no valid character.
bool WideToPosixPath(LPCWSTR wide, char* out, std::size_t cap);
// UTF-8 encoding of wide text, zero-terminated; false when it does not fit or
// holds a value that is no character (a lone surrogate, above U+10FFFF).
bool WideToUtf8(const WCHAR* wide, std::size_t units, char* out, std::size_t cap);
// Strict UTF-8 decoding, zero-terminated; false on a malformed sequence or when
// it does not fit. A lenient caller passes replace = true to get U+FFFD instead.
bool Utf8ToWide(const char* text, std::size_t bytes, WCHAR* out, std::size_t cap,
                bool replace = false);

DWORD Win32ErrorFromErrno(int error);
void SetLastErrorFromErrno();  // from the current errno

// serial.cpp: the serial side of CreateFileW, ReadFile, WriteFile and CloseHandle.
// Takes over an open tty descriptor; exclusive for a share mode of 0.
HANDLE OpenSerialPort(int fd, bool exclusive);
BOOL ReadSerial(PosixHandle* p, void* buffer, DWORD toRead, DWORD* read);
BOOL WriteSerial(PosixHandle* p, const void* buffer, DWORD toWrite, DWORD* written);
void CloseSerial(PosixHandle* p);

// FILETIME of a Linux time: 100-ns ticks since 1601-01-01.
FILETIME ToFileTime(long long seconds, long nanoseconds);

// Milliseconds of the monotonic clock (no wrap at 49 days, unlike GetTickCount).
long long MonotonicMs();

// Windows' case-insensitive comparison for file names and registry keys:
// ASCII, Latin-1, Greek, Cyrillic and the full-width Latin letters fold.
WCHAR FoldCase(WCHAR c);
