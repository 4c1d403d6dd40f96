// A backup's manifest as a person or a damaged disk may leave it: parsing
// never reads outside the text, and every entry it keeps has its eight
// fields within the text, a 64-digit SHA-256 and name bytes that fit.
#include <cstring>

#include "commands/backup.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static Manifest manifest;
  manifest.text.assign(reinterpret_cast<const char*>(data),
                       reinterpret_cast<const char*>(data) + size);
  manifest.text.push_back(0);
  ParseManifest(&manifest);
  const char* begin = manifest.text.data();
  const char* end = begin + manifest.text.size();
  for (const ManifestEntry& e : manifest.entries) {
    for (const char* field : {e.name, e.bytes, e.category, e.local, e.date, e.sha256, e.saved})
      FUZZ_CHECK(field >= begin && field < end);
    FUZZ_CHECK(std::strlen(e.sha256) == 64);
    FUZZ_CHECK(*e.local && !std::strpbrk(e.local, "/\\") && std::strcmp(e.local, "..") != 0);
    char bytes[520];
    std::size_t n = 0;
    if (ManifestNameBytes(e, bytes, sizeof bytes, &n)) FUZZ_CHECK(n <= sizeof bytes);
  }
  return 0;
}
