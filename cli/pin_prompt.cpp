// Questions on the terminal: the PIN (once per run, or from a PIN file) and
// yes or no; a refused PIN explained to the one who must fix it.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "cli/cli.h"
#include "link/frontend.h"

namespace {

// The PIN typed in this run. A command that connects twice (listing, then
// download or upload) gets there only after the handset accepted the first
// connection's PIN, so the second asks no more, even where it cannot be stored.
// A PIN file gives it the same way.
bool g_pinTyped = false;
DWORD g_typedPin = 0;
bool g_pinAsked = false;  // the user was asked in this run
std::wstring g_pinFile;   // the file that gave the PIN, if one did

int AskPinOnce() {
  EndProgressLine();
  if (StdinIsTerminal()) return AskPinHidden();
  // Not a terminal: the PIN is the next line of input, no prompt.
  char line[kPinLineUnits * 4];
  if (!ReadByteLine(line, sizeof line)) return 0;
  TakePin(FromUtf8(line).c_str());
  std::memset(line, 0, sizeof line);
  return 1;
}

}  // namespace

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

void TakePin(const WCHAR* text) {
  const unsigned long n = std::wcstoul(text, nullptr, 10);
  g_currentPin = n > 0xFFFFFFFFul ? 0xFFFFFFFFu : static_cast<DWORD>(n);
}

const char* PinPrompt() { return AddEnglish() ? "暗証番号 (PIN): " : "暗証番号: "; }

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
