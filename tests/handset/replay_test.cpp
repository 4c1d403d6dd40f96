// Reading a trace for replay: what each line stands for, and a clear reason
// for what is not a trace.
#include "handset/replay.h"

#include <gtest/gtest.h>

namespace {

TEST(ReplayTrace, RequestsAnswersAndRedactions) {
  handset::ReplayTrace t;
  std::string error;
  ASSERT_TRUE(
      handset::ParseTrace("palvo-trace 1; palvo 1.0.0\n"
                          "# a person's note\n"
                          "3 > e101000108000000000200 01 pin:4\n"
                          "5 < e10200010600000000020001\r\n"
                          "9 < 4f4b private:3:0123456789abcdef\n"
                          "10 open COM3\n"
                          "12 > e10100ff0400000000010002\n"
                          "14 ! read failed, error 31\n"
                          "15 close\n"
                          "16 > e1 cut by a kil",
                          &t, &error))
      << error;
  ASSERT_EQ(t.expected.size(), 28u);
  EXPECT_EQ(t.match[12], handset::ReplayTrace::kAnyDigit);
  EXPECT_EQ(t.requestStarts, (std::vector<std::size_t>{0, 16}));
  ASSERT_EQ(t.answers.size(), 3u);
  EXPECT_EQ(t.answers[0].after, 16u);
  EXPECT_EQ(t.answers[0].delayMs, 2u);
  EXPECT_EQ(t.answers[1].bytes.size(), 5u);  // "OK" and three made-up bytes
  EXPECT_EQ(t.answers[1].bytes.substr(0, 2), "OK");
  EXPECT_TRUE(t.answers[2].hangUp);
  EXPECT_EQ(t.answers[2].after, 28u);
  EXPECT_EQ(handset::RequestNumber(t, 20), 2u);
}

TEST(ReplayTrace, WhatIsNotATraceIsNamed) {
  const struct {
    const char* text;
    const char* says;
  } cases[] = {
      {"", "not a palvo trace"},
      {"hello\n", "line 1: not a palvo trace"},
      {"palvo-trace 1\n> e101\n", "line 2: no time"},
      {"palvo-trace 1\n5 > e1x1\n", "line 2: bytes that are not hex"},
      {"palvo-trace 1\n\n5 < e1 pin:\n", "line 3: bytes that are not hex"},
      {"palvo-trace 1\n5 ? e1\n", "line 2: neither"},
  };
  for (const auto& c : cases) {
    handset::ReplayTrace t;
    std::string error;
    EXPECT_FALSE(handset::ParseTrace(c.text, &t, &error)) << c.text;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.text << ": " << error;
  }
}

TEST(ReplayTrace, TheReportMarksTheFirstDifference) {
  handset::ReplayTrace t;
  std::string error;
  ASSERT_TRUE(handset::ParseTrace("palvo-trace 1\n1 > e10100020400000000060001\n", &t, &error));
  const std::string received("\xe1\x01\x00\x03\x04\x00\x00\x00\x00\x06\x00\x01", 12);
  EXPECT_EQ(handset::DivergenceReport(t, 1, received, 3),
            "replay: request 1 differs from the trace at byte 3\n"
            "  expected: e1 01 00 [02] 04 00 00 00 00 06 00 01\n"
            "  received: e1 01 00 [03] 04 00 00 00 00 06 00 01");
}

}  // namespace
