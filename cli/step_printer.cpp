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

void ShowStatus(const WCHAR* text, int mode) {
  // The busy text of keep-open mode says nothing a terminal user needs; the
  // outcome of an operation is what the command line reports.
  if (mode == 1 || !text || !text[0]) return;
  EndProgressLine();
  WriteText(stderr, "palvo: " + WithMeaning(text) + "\n");
  if (std::wcscmp(text, MSG_WRONG_PIN) == 0) ExplainRefusedPin();
}

namespace {

void Say(const std::wstring& text) {
  EndProgressLine();
  WriteText(stderr, "palvo: " + ToUtf8(text.c_str(), true) + "\n");
}

void FollowStep(Step step, const WCHAR* text, int number, int count) {
  if (step == Step::kItem) SetProgressItem(text, number, count);
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
