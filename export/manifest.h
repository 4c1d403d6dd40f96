// palvo-backup.tsv, the backup's own list of its files, where it is there:
// tab-separated, a header line naming the fields (after any lines before it,
// such as palvo's version), one line per file. Read by the fields' names, so
// columns may come in any order and unknown ones are passed over; an absent
// or unreadable list leaves the export to work from the files alone.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct BackupListEntry {
  std::string localName;    // the file's name in the backup (UTF-8)
  std::string handsetName;  // as the handset showed it
  std::string category;
  std::string handsetDate;
};

// The entries of the list's text; none when it has no header line with a
// local name field.
std::vector<BackupListEntry> ParseBackupList(const char* text, std::size_t n);
const BackupListEntry* FindBackupListEntry(const std::vector<BackupListEntry>& entries, const std::string& name);
