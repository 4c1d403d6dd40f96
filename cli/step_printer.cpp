// The core's steps and outcomes on stderr: one line for an operation's
// outcome, and with -v each step (port found, opened, logged in, each row,
// goodbye).
#include <cwchar>
#include <string>

#include "cli/cli.h"
#include "link/frontend.h"
#include "link/messages.h"
#include "link/steps.h"

bool g_quiet = false;
bool g_verbose = false;

namespace {
WCHAR g_row[kPathUnits];  // the row (or local file) under way, for a link error
}  // namespace

void ShowStatus(const WCHAR* text, int mode) {
  // The busy text of keep-open mode says nothing a terminal user needs; the
  // outcome of an operation is what the command line reports.
  if (mode == kKeepOpenMode || !text || !text[0]) return;
  EndProgressLine();
  // The terminal echoed Ctrl-C as "^C" where the cursor was: the report
  // starts below it.
  if (g_stopRequest == kSigInt && std::wcscmp(text, MSG_INTERRUPTED) == 0 && IsTerminal(stderr) &&
      !StopEchoLineEnded())
    WriteText(stderr, "\n");
  std::string line = "palvo: ";
  // A link error while a row was under way names the row.
  if (g_row[0] && std::wcsncmp(text, L"通信エラー", 5) == 0) {
    AppendText(line, g_row, true);
    line += ": ";
  }
  line += WithMeaning(text);
  if (std::wcscmp(text, MSG_CANNOT_WRITE) == 0 || std::wcscmp(text, MSG_OPEN_FAILED) == 0 ||
      std::wcscmp(text, MSG_NOT_A_PORT) == 0) {
    if (const std::wstring problem = ProblemOfStep(); !problem.empty())
      line += ": " + ToUtf8(problem.c_str(), true);
  }
  WriteText(stderr, line + "\n");
  if (std::wcscmp(text, MSG_WRONG_PIN) == 0) ExplainRefusedPin();
}

namespace {

void Say(const std::wstring& text) {
  EndProgressLine();
  WriteText(stderr, "palvo: " + ToUtf8(text.c_str(), true) + "\n");
}

void FollowStep(Step step, const WCHAR* text, int number, int count) {
  if (step == Step::kItem) {
    SetProgressItem(text, number, count);
    std::wcsncpy(g_row, text ? text : L"", kPathUnits - 1);
  }
  if (step == Step::kPortFound) g_row[0] = 0;  // a new connection: no row under way yet
  if (!g_verbose) return;
  const std::wstring t = text ? text : L"";
  switch (step) {
    case Step::kPortFound:
      Say(InLanguage(L"port ", L"ポート: ") + t);
      break;
    case Step::kPortOpened:
      Say(InLanguage(L"opened ", L"開きました: ") + t);
      break;
    case Step::kPortUnusable:
      Say(InLanguage(L"cannot use ", L"使えません: ") + ProblemOfStep());
      break;
    case Step::kLoggedIn:
      Say(InLanguage(L"logged in", L"ログインしました"));
      break;
    case Step::kItem:
      Say(std::to_wstring(number) + L"/" + std::to_wstring(count) + L" " + t);
      break;
    case Step::kGoodbye:
      Say(InLanguage(L"goodbye", L"切断しました"));
      break;
  }
}

}  // namespace

void FollowSteps() { g_stepHook = FollowStep; }
