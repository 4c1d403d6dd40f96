// Replay of a port trace written by palvo --trace: the requests it expects,
// in order, and the answers it gives after each, chunked and timed as they
// were recorded.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "handset/handset.h"

namespace handset {

struct ReplayTrace {
  // Every byte palvo sent, in order, and what each must be.
  enum Match : std::uint8_t { kExact, kAnyDigit, kAnyByte };
  std::string expected;
  std::vector<Match> match;
  std::vector<std::size_t> requestStarts;  // where each request frame begins in expected

  struct Answer {
    std::size_t after;  // sent once this many expected bytes have come
    unsigned delayMs;   // after the line before it
    bool hangUp;        // the link vanished here instead
    std::string bytes;
  };
  std::vector<Answer> answers;
};

// Reads a trace; false with a reason naming the line when it is not one.
bool ParseTrace(std::string_view text, ReplayTrace* trace, std::string* error);

// The 1-based number of the request that expected byte at offset lies in.
std::size_t RequestNumber(const ReplayTrace& trace, std::size_t offset);

enum class ReplayEnd { kComplete, kHungUp, kDiverged, kStopped };

// Serves the trace on io until it is done and the peer is quiet, a request
// differs (reported through report, the port silent after it), or stop is
// set. speed divides the recorded delays.
ReplayEnd ServeReplay(Io& io, const ReplayTrace& trace, double speed, const std::atomic<bool>& stop,
                      const std::function<void(const std::string&)>& report);

// ServeReplay, then its last word through report; the program's exit status:
// 0 when every recorded request came as recorded (or the link vanished where
// it did), else 1.
int RunReplay(Io& io, const ReplayTrace& trace, double speed, const std::atomic<bool>& stop,
              const std::function<void(const std::string&)>& report);

// The report of a request that differs from the trace's, for a person.
std::string DivergenceReport(const ReplayTrace& trace, std::size_t requestNumber,
                             std::string_view received, std::size_t firstDifference);

}  // namespace handset
