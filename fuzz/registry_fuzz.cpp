// The registry file as people and other programs may leave it: whatever it
// holds, writing it back unchanged keeps every byte, and after a value is
// changed, a key removed or one added, reading the new text gives exactly the
// keys the writer was given.
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "platform/posix/registry_store.h"

namespace {

bool SameValues(const RegValue& a, const RegValue& b) {
  if (a.type != b.type || !SameRegName(a.name, b.name)) return false;
  if (a.type == REG_SZ) return a.text == b.text;
  if (a.type == REG_DWORD && a.bytes.empty() && b.bytes.empty()) return a.number == b.number;
  return a.bytes == b.bytes;
}

bool SameKeys(const std::vector<RegKey>& a, const std::vector<RegKey>& b) {
  if (a.size() != b.size()) return false;
  for (const RegKey& ka : a) {
    const RegKey* kb = nullptr;
    for (const RegKey& k : b)
      if (SameRegName(k.path, ka.path)) kb = &k;
    if (!kb || kb->values.size() != ka.values.size()) return false;
    for (const RegValue& va : ka.values) {
      bool found = false;
      for (const RegValue& vb : kb->values) found = found || SameValues(va, vb);
      if (!found) return false;
    }
  }
  return true;
}

void CheckRewrite(const std::string& text, const std::vector<RegKey>& keys) {
  std::vector<RegKey> again;
  ParseRegistryText(FormatRegistryText(text, keys), &again);
  FUZZ_CHECK(SameKeys(again, keys));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<RegKey> keys;
  ParseRegistryText(text, &keys);

  const std::string same = FormatRegistryText(text, keys);
  if (text.empty()) {
    FUZZ_CHECK(same == "Windows Registry Editor Version 5.00\n");
  } else {
    // At most a line break is added at the end.
    FUZZ_CHECK(same.compare(0, text.size(), text) == 0);
    FUZZ_CHECK(same.size() == text.size() ||
               (text.back() != '\n' && same.back() == '\n' && same.size() <= text.size() + 2));
  }

  if (!keys.empty()) {
    std::vector<RegKey> changed = keys;
    RegKey& first = changed.front();
    if (!first.values.empty()) {
      first.values.front().type = REG_SZ;
      first.values.front().text = L"changed\nline";
      first.values.front().bytes.clear();
    }
    RegValue added;
    added.name = L"Added";
    added.type = REG_DWORD;
    added.number = 7;
    bool exists = false;
    for (const RegValue& v : first.values) exists = exists || SameRegName(v.name, added.name);
    if (!exists) first.values.push_back(added);
    CheckRewrite(text, changed);

    std::vector<RegKey> removed = keys;
    removed.erase(removed.begin() + static_cast<long>(size % keys.size()));
    CheckRewrite(text, removed);
  }
  std::vector<RegKey> more = keys;
  bool exists = false;
  for (const RegKey& k : more) exists = exists || SameRegName(k.path, L"Fuzz\\New");
  if (!exists) {
    more.push_back(RegKey{});
    more.back().path = L"Fuzz\\New";
    more.back().values.push_back(RegValue{L"v", REG_SZ, L"x", 0, {}});
    CheckRewrite(text, more);
  }
  return 0;
}
