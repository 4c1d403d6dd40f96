// What the backup run (backup.cpp) shares with the manifest's reader and the
// check of a backup (manifest.cpp): the folder, its earlier manifest indexed
// by key, the listing's rows, and the manifest's text helpers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "commands/backup.h"
#include "download/listing.h"

namespace backup_run {

constexpr std::size_t kKeyBytes = 8 + 2 * MAX_PATH;  // category, TAB, name bytes

extern WCHAR g_dir[kPathUnits];  // the backup folder, ending with a backslash
extern std::size_t g_dirUnits;
extern Manifest g_old;  // its manifest as the run found it

struct RowFacts {
  WCHAR text[kPathUnits];
  const WCHAR* name;
  int icon;
  bool selected;
  const ListingEntry* entry;
};

bool Utf8(const WCHAR* text, char* out, int room);
bool Wide(const char* text, WCHAR out[kPathUnits]);
// Append text to out (the manifest's escapes, or as it is); false when it
// does not fit before end.
bool AppendEscaped(char*& out, const char* end, const char* text);
bool Append(char*& out, const char* end, const char* text);
// Now, UTC, as the manifest's saved field writes it.
void NowText(char out[48]);
// The size of a file; 0 when it cannot be read.
std::uint64_t SizeOfFile(const WCHAR* path);
// The folder's file of a manifest name; false when it does not fit or names
// no file of the folder.
bool LocalPath(const char* local, WCHAR out[kPathUnits]);

// The earlier entries by their key (category and name bytes).
void IndexOldEntries();
int FindOld(const char* key, std::size_t n);
int RowCount();
void ReadRowFacts(int index, RowFacts* row);
// The key of a file row; 0 when it has none (no listing entry).
std::size_t RowKey(const RowFacts& row, char key[kKeyBytes]);
// Reads the listing's row index into row: the index of its earlier entry,
// -1 when it has none, kNoKey when the row has no key (no listing entry).
constexpr int kNoKey = -2;
int OldEntryOfRow(int index, RowFacts* row);
// The row's size and date are those the entry recorded.
bool RowAsRecorded(const RowFacts& row, const ManifestEntry& e);

}  // namespace backup_run
