// The core's front-end hooks on a terminal: the PIN typed without echo, the
// outcome of an operation as one line on stderr, progress of long transfers;
// and Ctrl-C, SIGTERM and SIGHUP, which ask the running command to stop.
#include "link/frontend.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "cli/cli.h"
#include "link/messages.h"
#include "link/steps.h"

#ifndef _WIN32
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

bool g_quiet = false;
bool g_verbose = false;

namespace {

constexpr int kPinLineUnits = 260;  // as the PIN dialog's text buffer

// Waits for standard input to have something to read; false once the user
// asked the command to stop. (A signal that comes just before a blocking read
// would not interrupt it: the read waits only once input is there.)
bool WaitForInput() {
#ifndef _WIN32
  // A terminal hands over a line at a time, so nothing waits in stdio's
  // buffer that poll would not see.
  if (!::isatty(STDIN_FILENO)) return true;
  for (;;) {
    if (g_stopRequest) return false;
    struct pollfd in = {STDIN_FILENO, POLLIN, 0};
    if (::poll(&in, 1, 100) > 0) return !g_stopRequest;
  }
#else
  return true;
#endif
}

// Reads one line of bytes from stdin into line (cut at the newline, the rest
// of a long line read off and dropped). False at end of input, or when the
// user asked the command to stop.
bool ReadByteLine(char* line, std::size_t cap) {
  if (!WaitForInput() || !std::fgets(line, static_cast<int>(cap), stdin)) return false;
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

// The dialog's title as the prompt, with its meaning outside Japanese.
const char* Prompt() { return AddEnglish() ? "暗証番号 (PIN): " : "暗証番号: "; }

#ifdef _WIN32
int AskPinOnConsole(HANDLE in) {
  DWORD mode = 0;
  GetConsoleMode(in, &mode);
  SetConsoleMode(in, (mode | ENABLE_LINE_INPUT) & ~ENABLE_ECHO_INPUT);
  WriteText(stderr, Prompt());
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
volatile std::sig_atomic_t g_terminalQuiet = 0;  // echo is off for the PIN

// The first signal asks the command to stop (it ends at the next piece or
// item, says goodbye and closes the port); a second one ends the program at
// once, the terminal's echo put back first.
void OnStopSignal(int sig) {
  if (g_stopRequest) {
    if (g_terminalQuiet) tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  g_stopRequest = sig;
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

// Progress of the transfer under way, and the row it belongs to.
struct Progress {
  std::chrono::steady_clock::time_point start, lastShown;
  std::uint64_t lastDone = 0;
  bool running = false;
  int shownWidth = 0;  // columns of the line on the terminal; 0: none shown
  WCHAR item[kPathUnits] = {};
  int number = 0, count = 0;
};
Progress g_progress;

constexpr auto kQuietStart = std::chrono::milliseconds(500);  // short transfers show nothing
constexpr auto kRedraw = std::chrono::milliseconds(100);      // at most 10 lines a second

void FormatBytes(char* out, std::size_t cap, double bytes) {
  if (bytes >= 1024.0 * 1024.0) {
    std::snprintf(out, cap, "%.1f MiB", bytes / (1024.0 * 1024.0));
  } else if (bytes >= 1024.0) {
    std::snprintf(out, cap, "%.1f KiB", bytes / 1024.0);
  } else {
    std::snprintf(out, cap, "%.0f B", bytes);
  }
}

// "h:mm:ss" or "m:ss".
void FormatDuration(char* out, std::size_t cap, double seconds) {
  const long long s = seconds > 0 && seconds < 1e9 ? static_cast<long long>(seconds + 0.5) : 0;
  if (s >= 3600) {
    std::snprintf(out, cap, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(out, cap, "%lld:%02lld", s / 60, s % 60);
  }
}

// The figures of the progress line: done / total, percent, rate, time left.
void FormatFigures(char* out, std::size_t cap, std::uint64_t done, std::uint64_t total,
                   double seconds) {
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  char doneText[32], totalText[32], rateText[32], leftText[32];
  FormatBytes(doneText, sizeof doneText, static_cast<double>(done));
  FormatBytes(rateText, sizeof rateText, rate);
  if (total == 0) {
    std::snprintf(out, cap, "%s  %s/s", doneText, rateText);
    return;
  }
  FormatBytes(totalText, sizeof totalText, static_cast<double>(total));
  const int percent =
      static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total));
  if (rate > 0 && done < total) {
    FormatDuration(leftText, sizeof leftText, static_cast<double>(total - done) / rate);
  } else {
    std::snprintf(leftText, sizeof leftText, "0:00");
  }
  std::snprintf(out, cap, "%s / %s  %3d%%  %s/s  %s left", doneText, totalText, percent, rateText,
                leftText);
}

// The PIN typed in this run. A command that connects twice (listing, then
// download or upload) gets there only after the handset accepted the first
// connection's PIN, so the second asks no more, even where it cannot be stored.
// A PIN file gives it the same way.
bool g_pinTyped = false;
DWORD g_typedPin = 0;
bool g_pinAsked = false;  // the user was asked in this run
std::wstring g_pinFile;   // the file that gave the PIN, if one did

int AskPinOnce();

// What a refused PIN means for the one who must fix it: a run without a
// terminal cannot ask, and the stored PIN it used is now forgotten.
void ExplainRefusedPin() {
  std::wstring why;
  if (!g_pinFile.empty()) {
    why = L"the PIN in " + g_pinFile + L" was refused: put the handset's PIN in that file";
  } else if (!g_pinAsked && !StdinIsTerminal()) {
    why =
        L"the stored PIN was refused and is forgotten: enter it again with 'palvo pin' on a "
        L"terminal, or give it in a file with --pin-file FILE or PALVO_PIN_FILE";
  } else {
    return;
  }
  WriteText(stderr, "palvo: " + ToUtf8(why.c_str(), true) + "\n");
}

}  // namespace

void GivePin(DWORD pin, const std::wstring& file) {
  g_pinTyped = true;
  g_typedPin = pin;
  g_pinFile = file;
}

int AskPin(HWND) {
  if (g_pinTyped) {
    g_currentPin = g_typedPin;
    return 1;
  }
  g_pinAsked = true;
  const int confirmed = AskPinOnce();
  if (confirmed) {
    g_pinTyped = true;
    g_typedPin = g_currentPin;
  } else if (!StdinIsTerminal()) {
    // Nobody to ask: say what would have helped. (On a terminal, ending the
    // entry is the user's own choice, and it stays silent.)
    Complain(
        L"no PIN: none is kept and standard input gave none; enter it with 'palvo pin' on "
        L"a terminal, or give it in a file with --pin-file FILE or PALVO_PIN_FILE");
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
    if (haveTerminal) {
      quiet = g_savedTerminal;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      quiet.c_lflag |= ECHONL;
      g_terminalQuiet = 1;
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    // Only now the prompt: a PIN typed as soon as it shows is neither echoed
    // nor dropped by the flush above.
    WriteText(stderr, Prompt());
    std::fflush(stderr);
    char line[kPinLineUnits * 4];
    const bool got = ReadByteLine(line, sizeof line);
    if (haveTerminal) {
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
      g_terminalQuiet = 0;
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

#ifdef _WIN32
namespace {
// Ctrl+C, Ctrl+Break and a closed console: the first asks the command to
// stop; a second gets the default handling, which ends the program at once.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  if (g_stopRequest) return FALSE;
  g_stopRequest = event == CTRL_CLOSE_EVENT ? 1 : 2;  // as SIGHUP, SIGINT
  return TRUE;
}
}  // namespace

void CatchStopSignals() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
#else
void CatchStopSignals() {
  struct sigaction stop = {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  stop.sa_flags = 0;  // no SA_RESTART: a read waiting for the PIN returns
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &stop, nullptr);
}
#endif

int AskOnTerminal(const std::string& question) {
  if (!StdinIsTerminal()) return -1;
  EndProgressLine();
  WriteText(stderr, "palvo: " + question + " [y/N] ");
  std::fflush(stderr);
  char line[64];
  // Ctrl-C here (the read interrupted) or the end of input is a no.
  if (!ReadByteLine(line, sizeof line)) {
    WriteText(stderr, "\n");
    return 0;
  }
  return line[0] == 'y' || line[0] == 'Y' ? 1 : 0;
}

void ShowStatus(const WCHAR* text, int mode) {
  // The busy text of keep-open mode says nothing a terminal user needs; the
  // outcome of an operation is what the command line reports.
  if (mode == 1 || !text || !text[0]) return;
  EndProgressLine();
  WriteText(stderr, "palvo: " + WithMeaning(text) + "\n");
  if (std::wcscmp(text, MSG_WRONG_PIN) == 0) ExplainRefusedPin();
}

void ShowProgress(std::uint64_t done, std::uint64_t total) {
  // Asked once: this runs for every 4096-byte piece.
  static const bool shown = IsTerminal(stderr);
  if (!shown || g_quiet) return;
  const auto now = std::chrono::steady_clock::now();
  if (!g_progress.running || done < g_progress.lastDone) {
    EndProgressLine();
    g_progress.running = true;
    g_progress.start = now;
    g_progress.lastShown = now - kRedraw;
  }
  g_progress.lastDone = done;
  const bool finished = total > 0 && done >= total;
  if (finished) {
    // Done: the line goes away.
    EndProgressLine();
    return;
  }
  if (now - g_progress.start < kQuietStart || now - g_progress.lastShown < kRedraw) return;
  g_progress.lastShown = now;

  char figures[160];
  FormatFigures(figures, sizeof figures, done, total,
                std::chrono::duration<double>(now - g_progress.start).count());
  // "3/12 name  figures", within the terminal's width: the name gives way.
  std::string line = "\r";
  int width = 0;
  if (g_progress.count > 1) {
    const std::string number =
        std::to_string(g_progress.number) + "/" + std::to_string(g_progress.count) + " ";
    line += number;
    width += static_cast<int>(number.size());
  }
  const int figuresWidth = static_cast<int>(std::strlen(figures));
  const int columns = TerminalColumns(stderr);
  // One column spare: a line that fills the last one wraps on some terminals.
  const int room = (columns > 0 ? columns - 1 : 79) - width - figuresWidth - 2;
  if (g_progress.item[0] && room >= 4) {
    width += AppendCut(line, g_progress.item, room) + 2;
    line += "  ";
  }
  line += figures;
  width += figuresWidth;
  // Blanks over what the last line had further right.
  if (g_progress.shownWidth > width)
    line.append(static_cast<std::size_t>(g_progress.shownWidth - width), ' ');
  WriteText(stderr, line);
  std::fflush(stderr);
  g_progress.shownWidth = std::max(width, g_progress.shownWidth);
}

void EndProgressLine() {
  if (g_progress.shownWidth > 0) {
    std::string blank = "\r";
    blank.append(static_cast<std::size_t>(g_progress.shownWidth), ' ');
    blank += '\r';
    WriteText(stderr, blank);
    std::fflush(stderr);
  }
  g_progress.shownWidth = 0;
  g_progress.running = false;
  g_progress.lastDone = 0;
}

namespace {

void Say(const std::wstring& text) {
  EndProgressLine();
  WriteText(stderr, "palvo: " + ToUtf8(text.c_str(), true) + "\n");
}

void FollowStep(Step step, const WCHAR* text, int number, int count) {
  if (step == Step::kItem) {
    std::wcsncpy(g_progress.item, text ? text : L"", kPathUnits - 1);
    g_progress.number = number;
    g_progress.count = count;
  }
  if (!g_verbose) return;
  const std::wstring t = text ? text : L"";
  switch (step) {
    case Step::kPortFound:
      Say(L"port " + t);
      break;
    case Step::kPortOpened:
      Say(L"opened " + t);
      break;
    case Step::kLoggedIn:
      Say(L"logged in");
      break;
    case Step::kItem:
      Say(std::to_wstring(number) + L"/" + std::to_wstring(count) + L" " + t);
      break;
    case Step::kGoodbye:
      Say(L"goodbye");
      break;
  }
}

}  // namespace

void FollowSteps() { g_stepHook = FollowStep; }
