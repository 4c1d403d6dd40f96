// The core's front-end hooks on a terminal: the PIN typed without echo, the
// outcome of an operation as one line on stderr, progress of long transfers.
#include "link/frontend.h"

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "cli/cli.h"

#ifndef _WIN32
#include <termios.h>
#include <unistd.h>
#endif

namespace {

constexpr int kPinLineUnits = 260;  // as the PIN dialog's text buffer

// Reads one line of bytes from stdin into line (cut at the newline, the rest
// of a long line read off and dropped). False at end of input.
bool ReadByteLine(char* line, std::size_t cap) {
  if (!std::fgets(line, static_cast<int>(cap), stdin)) return false;
  const std::size_t n = std::strlen(line);
  if (n > 0 && line[n - 1] == '\n') {
    line[n - 1] = 0;
  } else {
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
    }
  }
  return true;
}

// The typed number as the PIN dialog reads it: wcstoul base 10 on 32 bits.
void TakePin(const WCHAR* text) {
  const unsigned long n = std::wcstoul(text, nullptr, 10);
  g_currentPin = n > 0xFFFFFFFFul ? 0xFFFFFFFFu : static_cast<DWORD>(n);
}

const char kPrompt[] = "暗証番号: ";

#ifdef _WIN32
int AskPinOnConsole(HANDLE in) {
  DWORD mode = 0;
  GetConsoleMode(in, &mode);
  SetConsoleMode(in, (mode | ENABLE_LINE_INPUT) & ~ENABLE_ECHO_INPUT);
  WriteText(stderr, kPrompt);
  WCHAR line[kPinLineUnits] = {};
  DWORD read = 0;
  const BOOL ok = ReadConsoleW(in, line, kPinLineUnits - 1, &read, nullptr);
  SetConsoleMode(in, mode);
  WriteText(stderr, "\n");
  if (!ok || read == 0 || line[0] == 0x1A) return 0;  // Ctrl+Z: end of input
  line[read < kPinLineUnits ? read : kPinLineUnits - 1] = 0;
  TakePin(line);
  SecureZeroMemory(line, sizeof line);
  return 1;
}
#else
termios g_savedTerminal;

// Ctrl+C while echo is off must not leave the terminal silent.
void RestoreTerminalAndDie(int sig) {
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}
#endif

bool StdinIsTerminal() {
#ifdef _WIN32
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
#else
  return ::isatty(STDIN_FILENO) == 1;
#endif
}

// Progress of the transfer under way.
struct Progress {
  std::chrono::steady_clock::time_point start, lastShown;
  std::uint64_t lastDone = 0;
  bool running = false;
  bool lineShown = false;
};
Progress g_progress;

constexpr auto kQuietStart = std::chrono::milliseconds(500);  // short transfers show nothing
constexpr auto kRedraw = std::chrono::milliseconds(200);

void FormatBytes(char* out, std::size_t cap, double bytes) {
  if (bytes >= 1024.0 * 1024.0) {
    std::snprintf(out, cap, "%.1f MiB", bytes / (1024.0 * 1024.0));
  } else if (bytes >= 1024.0) {
    std::snprintf(out, cap, "%.1f KiB", bytes / 1024.0);
  } else {
    std::snprintf(out, cap, "%.0f B", bytes);
  }
}

// The PIN typed in this run. A command that connects twice (listing, then
// download or upload) gets there only after the handset accepted the first
// connection's PIN, so the second asks no more, even where it cannot be stored.
bool g_pinTyped = false;
DWORD g_typedPin = 0;

int AskPinOnce();

}  // namespace

int AskPin(HWND) {
  if (g_pinTyped) {
    g_currentPin = g_typedPin;
    return 1;
  }
  const int confirmed = AskPinOnce();
  if (confirmed) {
    g_pinTyped = true;
    g_typedPin = g_currentPin;
  }
  return confirmed;
}

namespace {

int AskPinOnce() {
  EndProgressLine();
  if (StdinIsTerminal()) {
#ifdef _WIN32
    return AskPinOnConsole(GetStdHandle(STD_INPUT_HANDLE));
#else
    termios quiet;
    const bool haveTerminal = tcgetattr(STDIN_FILENO, &g_savedTerminal) == 0;
    void (*oldInt)(int) = SIG_DFL;
    void (*oldTerm)(int) = SIG_DFL;
    if (haveTerminal) {
      quiet = g_savedTerminal;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      quiet.c_lflag |= ECHONL;
      oldInt = std::signal(SIGINT, RestoreTerminalAndDie);
      oldTerm = std::signal(SIGTERM, RestoreTerminalAndDie);
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    // Only now the prompt: a PIN typed as soon as it shows is neither echoed
    // nor dropped by the flush above.
    WriteText(stderr, kPrompt);
    std::fflush(stderr);
    char line[kPinLineUnits * 4];
    const bool got = ReadByteLine(line, sizeof line);
    if (haveTerminal) {
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
      std::signal(SIGINT, oldInt);
      std::signal(SIGTERM, oldTerm);
    } else {
      WriteText(stderr, "\n");
    }
    if (!got) {
      WriteText(stderr, "\n");
      return 0;
    }
    TakePin(FromUtf8(line).c_str());
    std::memset(line, 0, sizeof line);
    return 1;
#endif
  }
  // Not a terminal: the PIN is the next line of input, no prompt.
  char line[kPinLineUnits * 4];
  if (!ReadByteLine(line, sizeof line)) return 0;
  TakePin(FromUtf8(line).c_str());
  std::memset(line, 0, sizeof line);
  return 1;
}

}  // namespace

void ShowStatus(const WCHAR* text, int mode) {
  // The busy text of keep-open mode says nothing a terminal user needs; the
  // outcome of an operation is what the command line reports.
  if (mode == 1 || !text || !text[0]) return;
  EndProgressLine();
  WriteText(stderr, "palvo: " + WithMeaning(text) + "\n");
}

void ShowProgress(std::uint64_t done, std::uint64_t total) {
  // Asked once: this runs for every 4096-byte piece.
  static const bool shown = IsTerminal(stderr);
  if (!shown) return;
  const auto now = std::chrono::steady_clock::now();
  if (!g_progress.running || done < g_progress.lastDone) {
    EndProgressLine();
    g_progress.running = true;
    g_progress.start = now;
    g_progress.lastShown = now - kRedraw;
  }
  g_progress.lastDone = done;
  const bool finished = total > 0 && done >= total;
  if (now - g_progress.start < kQuietStart || (!finished && now - g_progress.lastShown < kRedraw)) {
    if (finished) g_progress.running = false;
    return;
  }
  g_progress.lastShown = now;

  const double seconds = std::chrono::duration<double>(now - g_progress.start).count();
  char doneText[32], totalText[32], rateText[32], line[128];
  FormatBytes(doneText, sizeof doneText, static_cast<double>(done));
  FormatBytes(rateText, sizeof rateText, seconds > 0 ? static_cast<double>(done) / seconds : 0);
  if (total > 0) {
    FormatBytes(totalText, sizeof totalText, static_cast<double>(total));
    std::snprintf(line, sizeof line, "\r%s / %s  %s/s  ", doneText, totalText, rateText);
  } else {
    std::snprintf(line, sizeof line, "\r%s  %s/s  ", doneText, rateText);
  }
  WriteText(stderr, line);
  std::fflush(stderr);
  g_progress.lineShown = true;
  if (finished) EndProgressLine();
}

void EndProgressLine() {
  if (g_progress.lineShown) {
    WriteText(stderr, "\n");
    std::fflush(stderr);
  }
  g_progress.lineShown = false;
  g_progress.running = false;
  g_progress.lastDone = 0;
}
