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
bool g_pinAsked = false;      // the user was asked in this run
bool g_typedRefused = false;  // the handset refused the PIN typed on a terminal
bool g_askedAgain = false;    // ... and it was asked once more
std::wstring g_pinFile;       // the file that gave the PIN, if one did

constexpr int kPinTries = 3;  // on a terminal, before the command gives up

const WCHAR* NotFourDigits() {
  return InLanguage(L"a PIN is four digits", L"暗証番号は4桁の数字です");
}

// The handset's PIN is always four digits: anything else is refused before it
// is sent (a handset would only refuse it), and on a terminal asked again.
// 1 taken, 0 none given, -1 refused (and said so).
int AskPinOnce() {
  EndProgressLine();
  if (StdinIsTerminal()) {
    for (int attempt = 0; attempt < kPinTries; ++attempt) {
      const int got = AskPinHidden();
      if (got >= 0) return got;
      Complain(NotFourDigits());
    }
    return 0;
  }
  // Not a terminal: the PIN is the next line of input, no prompt.
  char line[kPinLineUnits * 4];
  if (!ReadByteLine(line, sizeof line)) return 0;
  const bool taken = TakePin(FromUtf8(line).c_str());
  std::memset(line, 0, sizeof line);
  if (!taken) {
    Complain(InLanguage(L"the PIN on standard input is not four digits; nothing was sent",
                        L"標準入力の暗証番号が4桁の数字ではありません（送信していません）"));
    return -1;
  }
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

bool TakePin(const WCHAR* text) {
  auto blank = [](WCHAR c) { return c == L' ' || c == L'\t' || c == L'\r'; };
  while (blank(*text)) ++text;
  DWORD pin = 0;
  int digits = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text, ++digits) pin = pin * 10 + (*text - L'0');
  while (blank(*text)) ++text;
  if (digits != 4 || *text) return false;
  g_currentPin = pin;
  return true;
}

const char* PinPrompt() { return AddEnglish() ? "暗証番号 (PIN): " : "暗証番号: "; }

void ExplainRefusedPin() {
  std::wstring why;
  if (!g_pinFile.empty()) {
    why =
        InLanguage(L"the PIN in ", L"") + g_pinFile +
        InLanguage(L" was refused: put the handset's PIN in that file",
                   L" の暗証番号は拒否されました: 電話機の暗証番号をそのファイルに入れてください");
  } else if (!g_pinAsked && !StdinIsTerminal()) {
    why = InLanguage(
        L"the stored PIN was refused and is forgotten: enter it again with 'palvo pin' on a "
        L"terminal, or give it in a file with --pin-file FILE or PALVO_PIN_FILE",
        L"保存された暗証番号は拒否されたので消しました: 端末で 'palvo pin' で入力し直すか、"
        L"--pin-file FILE か PALVO_PIN_FILE でファイルに入れて渡してください");
  } else {
    g_typedRefused = StdinIsTerminal();
    return;
  }
  WriteText(stderr, "palvo: " + ToUtf8(why.c_str(), true) + "\n");
}

bool AskRefusedPinAgain() {
  if (!g_typedRefused || g_askedAgain || g_stopRequest) return false;
  g_typedRefused = false;
  g_askedAgain = true;
  g_pinTyped = false;
  return true;
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
  const int got = AskPinOnce();
  const int confirmed = got > 0 ? 1 : 0;
  if (confirmed) {
    g_pinTyped = true;
    g_typedPin = g_currentPin;
  } else if (got == 0 && !StdinIsTerminal() && !g_stopRequest) {
    // Nobody to ask: say what would have helped. (On a terminal, ending the
    // entry is the user's own choice, and it stays silent.)
    Complain(InLanguage(
        L"no PIN: none is kept and standard input gave none; enter it with 'palvo pin' on "
        L"a terminal, or give it in a file with --pin-file FILE or PALVO_PIN_FILE",
        L"暗証番号がありません（保存されておらず、標準入力にもありません）: 端末で "
        L"'palvo pin' で入力するか、--pin-file FILE か PALVO_PIN_FILE でファイルに入れて"
        L"渡してください"));
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
