// Standard output and error: a failed write to stdout is remembered and the
// run's end reports it; complaints are one line on stderr.
#include <cerrno>
#include <cstdio>
#include <string>

#include "cli/cli.h"

namespace {
// The first error of a write to standard output (errno), 0 while none.
int g_stdoutError = 0;
}  // namespace

void NoteStdoutError(int error) {
  if (g_stdoutError == 0) g_stdoutError = error;
}

void NoteWrite(std::FILE* stream, std::size_t wanted, std::size_t written) {
  if (stream == stdout && written < wanted && g_stdoutError == 0)
    g_stdoutError = errno != 0 ? errno : EIO;
}

int FinishStandardOutput() {
  errno = 0;
  if (std::fflush(stdout) != 0 && g_stdoutError == 0) g_stdoutError = errno != 0 ? errno : EIO;
  if (std::ferror(stdout) && g_stdoutError == 0) g_stdoutError = EIO;
  return g_stdoutError;
}

void WriteText(std::FILE* stream, const WCHAR* text) { WriteText(stream, ToUtf8(text, true)); }

bool WriteBytes(const char* data, std::size_t n) {
  if (StdoutClosed()) {
    if (n > 0) NoteStdoutError(EBADF);
    return false;
  }
  errno = 0;
  const std::size_t written = std::fwrite(data, 1, n, stdout);
  NoteWrite(stdout, n, written);
  return written == n;
}

void Complain(const WCHAR* text) {
  EndProgressLine();
  WriteText(stderr, "palvo: " + ToUtf8(text, true) + "\n");
}

int Failure(const std::wstring& problem) {
  Complain(problem.c_str());
  return kExitFailed;
}
