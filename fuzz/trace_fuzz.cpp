// A trace file as a person may hand it over, edited or cut: parsed, it gives
// requests and answers that agree with each other, or a reason naming a line.
#include <cstdint>
#include <string>

#include "fuzz/harness.h"
#include "handset/replay.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  handset::ReplayTrace trace;
  std::string error;
  if (!handset::ParseTrace(text, &trace, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(trace.match.size() == trace.expected.size());
  std::size_t last = 0;
  for (const handset::ReplayTrace::Answer& a : trace.answers) {
    FUZZ_CHECK(a.after >= last && a.after <= trace.expected.size());
    FUZZ_CHECK(!a.hangUp || a.bytes.empty());
    last = a.after;
  }
  for (std::size_t i = 0; i < trace.requestStarts.size(); ++i) {
    FUZZ_CHECK(trace.requestStarts[i] < trace.expected.size());
    FUZZ_CHECK(i == 0 || trace.requestStarts[i] > trace.requestStarts[i - 1]);
    FUZZ_CHECK(handset::RequestNumber(trace, trace.requestStarts[i]) == i + 1);
  }
  if (!trace.requestStarts.empty()) {
    // The report of any request is whole, whatever came instead.
    const std::string report = handset::DivergenceReport(trace, trace.requestStarts.size(),
                                                         text.substr(0, 40), text.size() % 50);
    FUZZ_CHECK(report.find("replay: request ") == 0);
  }
  return 0;
}
