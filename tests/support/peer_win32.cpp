// Far end under Wine: the second COM port of the null-modem pair that
// scripts/wine-run.sh --com-pair makes for the test binary. PALVO_TEST_PORT
// names the core's end, PALVO_TEST_PEER ours.
//
// Wine's read time-outs are not Windows': a read returns when the count it
// asked for has arrived or the constant has run out, never early with fewer
// bytes. So we never ask for more than is waiting: a one-byte read blocks up
// to the time left, then we take exactly what the driver says it holds.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "tests/support/peer.h"

namespace {

constexpr DWORD kWriteTimeoutMs = 10000;

bool CopyEnv(const char* name, WCHAR* out, std::size_t units) {
  const char* value = std::getenv(name);
  if (!value || !*value) return false;
  return MultiByteToWideChar(CP_UTF8, 0, value, -1, out, static_cast<int>(units)) > 0;
}

// Reads wait up to constantMs for the whole count; 0 makes them return at once
// with what is there (all-zero time-outs would block without end).
void SetReadTimeout(HANDLE h, DWORD constantMs) {
  COMMTIMEOUTS t = {};
  t.ReadIntervalTimeout = constantMs ? 0 : MAXDWORD;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = constantMs;
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = kWriteTimeoutMs;
  SetCommTimeouts(h, &t);
}

DWORD Waiting(HANDLE h) {
  DWORD errors = 0;
  COMSTAT stat = {};
  if (!ClearCommError(h, &errors, &stat)) return 0;
  return stat.cbInQue;
}

}  // namespace

PeerPort::PeerPort() {
  WCHAR peer[MAX_PATH] = {};
  if (!CopyEnv("PALVO_TEST_PORT", portName_, MAX_PATH) ||
      !CopyEnv("PALVO_TEST_PEER", peer, MAX_PATH))
    return;  // not run through wine-run.sh --com-pair: ok() says so
  far_ = CreateFileW(peer, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (far_ == INVALID_HANDLE_VALUE) return;
  // The pty pair is raw already; this only keeps Wine from changing it.
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  if (GetCommState(far_, &dcb)) {
    dcb.fBinary = TRUE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutX = dcb.fInX = FALSE;
    SetCommState(far_, &dcb);
  }
  SetReadTimeout(far_, 0);
  // A test before us may have left bytes in flight on the pair.
  Purge();
}

PeerPort::~PeerPort() {
  if (far_ != INVALID_HANDLE_VALUE) CloseHandle(far_);
}

bool PeerPort::ok() const { return far_ != INVALID_HANDLE_VALUE; }

bool PeerPort::Write(const void* data, std::size_t n) {
  const BYTE* p = static_cast<const BYTE*>(data);
  while (n > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n, 65536));
    DWORD written = 0;
    if (!WriteFile(far_, p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    n -= written;
  }
  return true;
}

std::size_t PeerPort::Read(void* data, std::size_t max, int timeoutMs) {
  if (max == 0 || far_ == INVALID_HANDLE_VALUE) return 0;
  BYTE* p = static_cast<BYTE*>(data);
  DWORD got = 0;
  DWORD waiting = Waiting(far_);
  if (waiting == 0) {
    // Block for the first byte only; Wine returns as soon as it is there.
    SetReadTimeout(far_, timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 1);
    BOOL read = ReadFile(far_, p, 1, &got, nullptr);
    SetReadTimeout(far_, 0);
    if (!read || got == 0) return 0;
    waiting = Waiting(far_);
  }
  // Exactly what is waiting returns at once on both Windows and Wine.
  DWORD want = static_cast<DWORD>(std::min<std::size_t>(max - got, waiting));
  if (want > 0) {
    DWORD more = 0;
    SetReadTimeout(far_, 50);
    if (ReadFile(far_, p + got, want, &more, nullptr)) got += more;
    SetReadTimeout(far_, 0);
  }
  return got;
}

bool PeerPort::ReadExact(void* data, std::size_t n, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char* p = static_cast<char*>(data);
  while (n > 0) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    if (left <= 0) return false;
    std::size_t r = Read(p, n, left);
    p += r;
    n -= r;
  }
  return true;
}

void PeerPort::Purge() {
  if (far_ == INVALID_HANDLE_VALUE) return;
  PurgeComm(far_, PURGE_RXCLEAR);
  // Bytes still on their way through the pair arrive after the purge: drain
  // until the line has been quiet for a moment.
  BYTE sink[4096];
  while (Read(sink, sizeof sink, 20) > 0) {
  }
}
