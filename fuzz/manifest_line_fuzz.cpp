// A line of a backup's manifest against a local name: any bytes, the name's
// field found only whole, never read past the line's end.
#include <string>

#include "commands/commands.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks the name's length, the rest is the line.
  if (size < 1) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string line = bytes.substr(0, bytes.find('\0'));
  const std::string local = line.substr(0, data[0] % (line.size() + 1));
  const bool named = ManifestLineNamesLocal(line.c_str(), local.c_str());
  // Named means the fourth field is local exactly.
  std::size_t at = 0;
  for (int tabs = 0; tabs < 3 && at != std::string::npos; ++tabs) {
    at = line.find('\t', at);
    if (at != std::string::npos) ++at;
  }
  const bool whole = at != std::string::npos && line.find('\n') > at &&
                     line.compare(at, local.size(), local) == 0 &&
                     at + local.size() < line.size() && line[at + local.size()] == '\t' &&
                     line[0] != '#';
  FUZZ_CHECK(named == whole);
  return 0;
}
