// The front end hooks as tests drive them: a scripted PIN entry and a record
// of every status shown.
#pragma once

#include <string>
#include <vector>

#include "link/state.h"

struct StatusCall {
  std::wstring text;  // empty for a null text
  int mode;
};

struct TestFrontend {
  int askPinCalls = 0;
  bool cancelPin = false;
  DWORD pinToEnter = 1234;
  std::vector<StatusCall> statuses;
  void Reset() { *this = TestFrontend(); }
};
extern TestFrontend g_testFrontend;

// Fresh process state, an empty temporary registry (natively) and a short
// silence limit; call from each fixture's SetUp.
void ResetTestProcess();
