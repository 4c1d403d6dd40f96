#include "export/manifest.h"

namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == '\t') {
      out.emplace_back();
    } else if (c != '\r') {
      out.back() += c;
    }
  }
  return out;
}

// "Local name", "local_name" and "local-name" are one field.
std::string Key(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '_' || c == '-') c = ' ';
  }
  return name;
}

}  // namespace

std::vector<BackupListEntry> ParseBackupList(const char* text, std::size_t n) {
  std::vector<BackupListEntry> entries;
  int local = -1, handset = -1, category = -1, date = -1;
  std::size_t at = 0;
  while (at < n) {
    std::size_t end = at;
    while (end < n && text[end] != '\n') ++end;
    const std::vector<std::string> f = Fields(std::string(text + at, end - at));
    at = end + 1;
    if (local < 0) {
      for (std::size_t i = 0; i < f.size(); ++i) {
        const std::string k = Key(f[i]);
        const int column = static_cast<int>(i);
        if (k == "local name") local = column;
        if (k == "handset name") handset = column;
        if (k == "category") category = column;
        if (k == "handset date") date = column;
      }
      continue;
    }
    const auto field = [&](int i) {
      return i >= 0 && static_cast<std::size_t>(i) < f.size() ? f[static_cast<std::size_t>(i)]
                                                              : std::string();
    };
    BackupListEntry e{field(local), field(handset), field(category), field(date)};
    if (!e.localName.empty()) entries.push_back(std::move(e));
  }
  return entries;
}

const BackupListEntry* FindBackupListEntry(const std::vector<BackupListEntry>& entries, const std::string& name) {
  for (const BackupListEntry& e : entries)
    if (e.localName == name) return &e;
  return nullptr;
}
