// palvo-backup.tsv as the export reads it, on any bytes: never more entries than lines after the
// header, each with a local name; a list without a local name field gives
// none.
#include <algorithm>

#include "export/manifest.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  const std::vector<BackupListEntry> entries = ParseBackupList(text, size);
  const auto lines = static_cast<std::size_t>(std::count(text, text + size, '\n')) + 1;
  FUZZ_CHECK(entries.size() < lines);
  for (const BackupListEntry& e : entries) {
    FUZZ_CHECK(!e.localName.empty());
    FUZZ_CHECK(FindBackupListEntry(entries, e.localName) != nullptr);
    FUZZ_CHECK(e.localName.find('\t') == std::string::npos);
    FUZZ_CHECK(e.localName.find('\n') == std::string::npos);
  }
  return 0;
}
