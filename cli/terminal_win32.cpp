// The console and the standard streams on Windows.
#ifdef _WIN32

#include <io.h>

#include <cstdio>
#include <string>

#include "cli/cli.h"

namespace {
HANDLE ConsoleOf(std::FILE* stream) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode;
  return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) ? h : nullptr;
}
}  // namespace

bool StdoutClosed() { return false; }

bool IsTerminal(std::FILE* stream) { return ConsoleOf(stream) != nullptr; }

int TerminalColumns(std::FILE* stream) {
  HANDLE console = ConsoleOf(stream);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!console || !GetConsoleScreenBufferInfo(console, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

// A console sends no signal when resized: its width is read each time (a
// cheap call).
int StderrColumns() { return TerminalColumns(stderr); }

void WriteText(std::FILE* stream, const std::string& utf8) {
  HANDLE console = ConsoleOf(stream);
  if (!console) {
    NoteWrite(stream, utf8.size(), std::fwrite(utf8.data(), 1, utf8.size(), stream));
    return;
  }
  // A console takes wide text whatever its code page.
  std::fflush(stream);
  const std::wstring wide = FromUtf8(utf8.c_str());
  DWORD written;
  WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

void GuardStandardStreams() {}

bool IsJapaneseLocale() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE; }

bool StdinIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool WaitForInput() { return true; }

#endif
