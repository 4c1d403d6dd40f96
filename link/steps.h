// The steps of an operation, for a front end that follows them (the command
// line's --verbose and its progress line). Nobody follows by default: the
// window does not.
#pragma once

#include "platform/win32.h"

enum class Step {
  kPortFound,     // text: the port's name
  kPortOpened,    // text: the port's name
  kPortUnusable,  // text: the port's name; the search goes on (g_problemPath, g_problemError: why)
  kLoggedIn,
  kItem,  // one row (or local file) of number out of count begins; text: its name
  kGoodbye,
};

typedef void (*StepHook)(Step step, const WCHAR* text, int number, int count);
extern StepHook g_stepHook;

inline void ReportStep(Step step, const WCHAR* text = nullptr, int number = 0, int count = 0) {
  if (g_stepHook) g_stepHook(step, text, number, count);
}
