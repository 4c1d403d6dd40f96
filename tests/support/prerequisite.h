// A test whose prerequisite (a program, a tool) is missing: skipped on a
// developer's machine, failed under CI (CI=true), where a skip would pass a
// test that never ran.
//
//   if (!fs::exists(program)) MISSING_PREREQUISITE() << "palvo is not built";
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

inline bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci && std::strcmp(ci, "true") == 0;
}

// GTEST_SKIP, or under CI a fatal failure with the same message.
#define MISSING_PREREQUISITE()                                    \
  return ::testing::internal::AssertHelper(                       \
             UnderCi() ? ::testing::TestPartResult::kFatalFailure \
                       : ::testing::TestPartResult::kSkip,        \
             __FILE__, __LINE__, UnderCi() ? "missing under CI=true" : "") = ::testing::Message()
