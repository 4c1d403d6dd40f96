// Folder downloads over a backup folder: the manifest, the incremental run,
// the attic for rows gone from the handset, the download's summary, and the
// check of a backup (verify).
#include "commands/backup.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "commands/backup_internal.h"
#include "commands/commands.h"
#include "commands/sha256.h"
#include "download/attic.h"
#include "download/category.h"
#include "download/download.h"
#include "download/listing.h"
#include "download/local_names.h"
#include "download/transfer.h"
#include "link/messages.h"
#include "palvo_version.h"

BackupOptions g_backupOptions = {false, false};

namespace backup_run {

constexpr const char* kFixedCategories[3] = {"bookmarks", "address", "mail"};
constexpr std::size_t kLineBytes = 16384;

DownloadSummary g_summary;

// The run's state: the folder, the earlier manifest and its entries by key,
// the rows saved and the entries kept unchanged.
WCHAR g_dir[kPathUnits];
std::size_t g_dirUnits = 0;
Manifest g_old;
bool g_haveOld = false;
std::vector<char> g_keyPool;
std::vector<std::size_t> g_keyAt;  // per old entry: its key in the pool (empty: not a file row)
std::vector<int> g_byKey;          // old entries with a key, sorted by key
std::vector<char> g_seen;          // old entries whose row is in the listing
std::vector<char> g_kept;          // old entries kept unchanged this run
std::vector<int> g_savedRows;

bool IsFileCategory(const char* category) {
  for (const Category& c : kCategories)
    if (std::strcmp(c.wireName, category) == 0) return true;
  return false;
}

// The key of a file: its category, TAB, its name bytes.
std::size_t MakeKey(const char* category, const char* name, std::size_t n, char* out) {
  const std::size_t c = std::strlen(category);
  std::memcpy(out, category, c);
  out[c] = '\t';
  std::memcpy(out + c + 1, name, n);
  return c + 1 + n;
}

int CompareKeys(const char* a, std::size_t an, const char* b, std::size_t bn) {
  const int c = std::memcmp(a, b, std::min(an, bn));
  if (c != 0) return c;
  return an < bn ? -1 : an > bn ? 1 : 0;
}

const char* KeyOf(int entry, std::size_t* n) {
  const std::size_t at = g_keyAt[static_cast<std::size_t>(entry)];
  const char* key = g_keyPool.data() + at;
  std::size_t len = 0;
  std::memcpy(&len, key, sizeof len);
  *n = len;
  return key + sizeof len;
}

void IndexOldEntries() {
  g_keyPool.clear();
  g_keyAt.assign(g_old.entries.size(), SIZE_MAX);
  g_byKey.clear();
  g_seen.assign(g_old.entries.size(), 0);
  g_kept.assign(g_old.entries.size(), 0);
  for (std::size_t i = 0; i < g_old.entries.size(); ++i) {
    const ManifestEntry& e = g_old.entries[i];
    if (!IsFileCategory(e.category)) continue;
    char name[2 * MAX_PATH];
    std::size_t n = 0;
    if (!ManifestNameBytes(e, name, sizeof name, &n)) continue;
    char key[kKeyBytes];
    const std::size_t len = MakeKey(e.category, name, n, key);
    g_keyAt[i] = g_keyPool.size();
    g_keyPool.insert(g_keyPool.end(), reinterpret_cast<const char*>(&len),
                     reinterpret_cast<const char*>(&len) + sizeof len);
    g_keyPool.insert(g_keyPool.end(), key, key + len);
    g_byKey.push_back(static_cast<int>(i));
  }
  std::sort(g_byKey.begin(), g_byKey.end(), [](int a, int b) {
    std::size_t an, bn;
    const char* ka = KeyOf(a, &an);
    const char* kb = KeyOf(b, &bn);
    return CompareKeys(ka, an, kb, bn) < 0;
  });
}

// The old entry of a key: the last one of equal keys; -1 when none.
int FindOld(const char* key, std::size_t n) {
  std::size_t lo = 0, hi = g_byKey.size();
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    std::size_t mn;
    const char* mk = KeyOf(g_byKey[mid], &mn);
    if (CompareKeys(mk, mn, key, n) <= 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo == 0) return -1;
  std::size_t fn;
  const char* found = KeyOf(g_byKey[lo - 1], &fn);
  return CompareKeys(found, fn, key, n) == 0 ? g_byKey[lo - 1] : -1;
}

// ---- the listing's rows

void ReadRowFacts(int index, RowFacts* row) {
  row->text[0] = 0;
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE | LVIF_PARAM;
  item.iItem = index;
  item.stateMask = LVIS_SELECTED;
  item.pszText = row->text;
  item.cchTextMax = kPathUnits;
  SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  row->name = item.pszText ? item.pszText : row->text;
  row->icon = item.iImage;
  row->selected = (item.state & LVIS_SELECTED) != 0;
  row->entry = row->icon >= 0 && row->icon < kCategoryCount
                   ? FindListingEntry(item.lParam, row->name)
                   : nullptr;
}

// The key of a file row; 0 when it has none (no listing entry).
std::size_t RowKey(const RowFacts& row, char key[kKeyBytes]) {
  if (!row.entry || row.entry->nameBytes >= 2 * MAX_PATH) return 0;
  return MakeKey(kCategories[row.icon].wireName, ListingNameBytes(*row.entry), row.entry->nameBytes,
                 key);
}

int RowCount() { return static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0)); }

int OldEntryOfRow(int index, RowFacts* row) {
  ReadRowFacts(index, row);
  char key[kKeyBytes];
  const std::size_t n = RowKey(*row, key);
  if (n == 0) return kNoKey;
  return FindOld(key, n);
}

bool RowAsRecorded(const RowFacts& row, const ManifestEntry& e) {
  return row.entry->sizeKnown && row.entry->size == e.size &&
         std::strcmp(row.entry->date, e.date) == 0;
}

void Deselect(int row) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED;
  item.state = 0;
  SendMessageW(g_listView, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
               reinterpret_cast<LPARAM>(&item));
}

// The file is there whole, as the entry recorded it.
bool IsIntact(const ManifestEntry& e) {
  WCHAR path[kPathUnits];
  char sha[65];
  std::uint64_t size = 0;
  return LocalPath(e.local, path) && Sha256OfFile(path, sha, &size) && size == e.size &&
         std::strcmp(sha, e.sha256) == 0;
}

// Marks the old entries whose rows the listing holds; with incremental,
// leaves the unchanged ones out of the selection.
void CompareWithListing(bool incremental) {
  const int rows = RowCount();
  static RowFacts row;
  for (int i = 0; i < rows; ++i) {
    const int old = OldEntryOfRow(i, &row);
    if (old < 0) continue;
    g_seen[static_cast<std::size_t>(old)] = 1;
    if (!incremental || !row.selected) continue;
    const ManifestEntry& e = g_old.entries[static_cast<std::size_t>(old)];
    if (!RowAsRecorded(row, e) || !IsIntact(e)) continue;
    Deselect(i);
    g_kept[static_cast<std::size_t>(old)] = 1;
    ++g_summary.unchanged;
  }
}

// ---- hooks of the download

void ClaimKeptNames() {
  for (std::size_t i = 0; i < g_kept.size(); ++i) {
    if (!g_kept[i]) continue;
    WCHAR name[kPathUnits];
    if (Wide(g_old.entries[i].local, name)) ClaimRunName(name);
  }
}

void RowSaved(int row, const WCHAR*) { g_savedRows.push_back(row); }

bool IsRecordedMail(const WCHAR* name) {
  char utf8[4 * kPathUnits];
  if (!Utf8(name, utf8, sizeof utf8)) return false;
  for (const ManifestEntry& e : g_old.entries) {
    if (std::strcmp(e.category, "mail") == 0 && std::strcmp(e.local, utf8) == 0) return true;
  }
  return false;
}

// ---- the new manifest

struct ManifestWriter {
  HANDLE file = INVALID_HANDLE_VALUE;  // none: only the sizes are counted
  bool failed = false;
  char line[kLineBytes];

  void Write(const char* text, std::size_t n) {
    if (file != INVALID_HANDLE_VALUE && !WriteAll(file, text, static_cast<DWORD>(n))) failed = true;
  }

  void Old(const ManifestEntry& e) {
    char* out = line;
    const char* end = line + sizeof line;
    char size[24];
    std::snprintf(size, sizeof size, "%llu", static_cast<unsigned long long>(e.size));
    const bool fits =
        AppendEscaped(out, end, e.name) && Append(out, end, "\t") && Append(out, end, e.bytes) &&
        Append(out, end, "\t") && Append(out, end, e.category) && Append(out, end, "\t") &&
        AppendEscaped(out, end, e.local) && Append(out, end, "\t") && Append(out, end, size) &&
        Append(out, end, "\t") && Append(out, end, e.date) && Append(out, end, "\t") &&
        Append(out, end, e.sha256) && Append(out, end, "\t") && Append(out, end, e.saved) &&
        Append(out, end, "\n");
    if (fits) Write(line, static_cast<std::size_t>(out - line));
  }

  // A file saved this run: its line, and its bytes counted.
  void Saved(const WCHAR* shown, const char* bytes, std::size_t byteCount, bool bytesDiffer,
             const char* category, const WCHAR* local, const char* date) {
    WCHAR path[kPathUnits];
    if (g_dirUnits + std::wcslen(local) >= kPathUnits) return;
    std::wmemcpy(path, g_dir, g_dirUnits);
    std::wcscpy(path + g_dirUnits, local);
    std::uint64_t size = 0;
    if (file == INVALID_HANDLE_VALUE) {
      // No manifest: only the size, not a second pass over the bytes.
      g_summary.bytes += SizeOfFile(path);
      return;
    }
    char sha[65];
    if (!Sha256OfFile(path, sha, &size)) return;
    g_summary.bytes += size;
    char name[4 * kPathUnits], localText[4 * kPathUnits], sizeText[24], now[48];
    Utf8(shown, name, sizeof name);
    Utf8(local, localText, sizeof localText);
    std::snprintf(sizeText, sizeof sizeText, "%llu", static_cast<unsigned long long>(size));
    NowText(now);
    char hex[4 * MAX_PATH + 1];
    std::size_t h = 0;
    static const char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; bytesDiffer && i < byteCount && h + 2 < sizeof hex; ++i) {
      hex[h++] = kDigits[static_cast<unsigned char>(bytes[i]) >> 4];
      hex[h++] = kDigits[static_cast<unsigned char>(bytes[i]) & 15];
    }
    hex[h] = 0;
    char* out = line;
    const char* end = line + sizeof line;
    const bool fits = AppendEscaped(out, end, name) && Append(out, end, "\t") &&
                      Append(out, end, hex) && Append(out, end, "\t") &&
                      Append(out, end, category) && Append(out, end, "\t") &&
                      AppendEscaped(out, end, localText) && Append(out, end, "\t") &&
                      Append(out, end, sizeText) && Append(out, end, "\t") &&
                      Append(out, end, date) && Append(out, end, "\t") && Append(out, end, sha) &&
                      Append(out, end, "\t") && Append(out, end, now) && Append(out, end, "\n");
    if (fits) Write(line, static_cast<std::size_t>(out - line));
  }
};

// The local name each saved row got: the name part of the path the download
// reported.
std::vector<WCHAR> g_savedNamePool;
std::vector<std::size_t> g_savedNameAt;

void RowSavedAt(int row, const WCHAR* path) {
  RowSaved(row, path);
  const WCHAR* name = path + g_dirUnits;
  g_savedNameAt.push_back(g_savedNamePool.size());
  g_savedNamePool.insert(g_savedNamePool.end(), name, name + std::wcslen(name) + 1);
}

// Writes the manifest (when write) from the earlier one and this run's
// saved rows; with complete, files of rows gone from the handset go to the
// attic first. Counts the saved bytes either way. False when it could not be
// written.
bool FinishManifest(bool write, bool complete) {
  ManifestWriter writer;
  WCHAR manifestPath[kPathUnits], part[kPathUnits];
  if (write) {
    if (g_dirUnits + std::wcslen(kManifestName) >= kPathUnits) return false;
    std::wmemcpy(manifestPath, g_dir, g_dirUnits);
    std::wcscpy(manifestPath + g_dirUnits, kManifestName);
    if (!PartPath(manifestPath, part)) return false;
    writer.file = CreateDownloadFile(part);
    if (writer.file == INVALID_HANDLE_VALUE) return false;
    const char header[] =
        "# palvo " PALVO_VERSION "\tname\tbytes\tcategory\tlocal\tsize\tdate\tsha256\tsaved\n";
    writer.Write(header, sizeof header - 1);
  }

  // Which earlier lines this run's rows replace: the fixed rows' by category,
  // a file row's by its key.
  bool fixedSaved[3] = {false, false, false};
  std::vector<char> replaced(g_old.entries.size(), 0);
  static RowFacts row;
  for (int saved : g_savedRows) {
    ReadRowFacts(saved, &row);
    if (row.icon >= kCategoryCount) {
      if (row.icon - kIconBookmarks < 3) fixedSaved[row.icon - kIconBookmarks] = true;
      continue;
    }
    char key[kKeyBytes];
    const std::size_t n = RowKey(row, key);
    const int old = n ? FindOld(key, n) : -1;
    if (old >= 0) replaced[static_cast<std::size_t>(old)] = 1;
  }
  // The local names this run saved, sorted, as UTF-8.
  std::vector<char> localPool;
  std::vector<std::size_t> locals;
  for (std::size_t s = 0; s < g_savedNameAt.size(); ++s) {
    char utf8[4 * kPathUnits];
    Utf8(g_savedNamePool.data() + g_savedNameAt[s], utf8, sizeof utf8);
    locals.push_back(localPool.size());
    localPool.insert(localPool.end(), utf8, utf8 + std::strlen(utf8) + 1);
  }
  auto less = [&](const char* a, const char* b) {
#ifdef _WIN32
    return _stricmp(a, b) < 0;
#else
    return std::strcmp(a, b) < 0;
#endif
  };
  std::sort(locals.begin(), locals.end(), [&](std::size_t a, std::size_t b) {
    return less(localPool.data() + a, localPool.data() + b);
  });
  auto savedHere = [&](const char* local) {
    auto at = std::lower_bound(
        locals.begin(), locals.end(), local,
        [&](std::size_t a, const char* b) { return less(localPool.data() + a, b); });
    return at != locals.end() && !less(local, localPool.data() + *at);
  };

  // The earlier lines that still stand. A file of a row that is gone from
  // the handset, or that this run saved under another name, goes to the
  // attic: no file of the backup is left unrecorded.
  for (std::size_t i = 0; i < g_old.entries.size(); ++i) {
    const ManifestEntry& e = g_old.entries[i];
    bool drop = false;
    for (int f = 0; f < 3; ++f)
      drop = drop || (fixedSaved[f] && std::strcmp(e.category, kFixedCategories[f]) == 0);
    if (drop || savedHere(e.local)) continue;
    if (IsFileCategory(e.category) && !g_kept[i] && (replaced[i] || (complete && !g_seen[i]))) {
      WCHAR path[kPathUnits];
      if (LocalPath(e.local, path) && KeepEarlierFile(path, nullptr)) continue;
      if (replaced[i]) continue;
    }
    if (write) writer.Old(e);
  }

  // This run's rows.
  for (std::size_t s = 0; s < g_savedRows.size(); ++s) {
    ReadRowFacts(g_savedRows[s], &row);
    const WCHAR* local = g_savedNamePool.data() + g_savedNameAt[s];
    if (row.icon == kIconMail) {
      for (int n = 0; n < MailFileCount(); ++n) {
        if (!MailFilePlaced(n)) continue;
        WCHAR name[24];
        std::swprintf(name, 24, L"mail%03d.txt", n);
        writer.Saved(name, "", 0, false, "mail", name, "");
      }
    } else if (row.icon >= kCategoryCount) {
      writer.Saved(local, "", 0, false, kFixedCategories[row.icon - kIconBookmarks], local, "");
    } else if (row.entry) {
      writer.Saved(row.name, ListingNameBytes(*row.entry), row.entry->nameBytes,
                   !row.entry->decodes, kCategories[row.icon].wireName, local, row.entry->date);
    } else {
      writer.Saved(row.name, "", 0, false, kCategories[row.icon].wireName, local, "");
    }
  }

  if (!write) return true;
  CloseHandle(writer.file);
  if (writer.failed || !CommitPart(part, manifestPath)) {
    DeleteFileW(part);
    return false;
  }
  return true;
}

Message DownloadWithBackup() {
  const DWORD started = GetTickCount();
  g_summary = DownloadSummary{};
  g_savedRows.clear();
  g_savedNamePool.clear();
  g_savedNameAt.clear();
  g_old.entries.clear();
  g_old.text.clear();
  g_kept.clear();
  g_seen.clear();
  g_keyAt.clear();
  g_byKey.clear();

  WCHAR* slash = std::wcsrchr(g_lastPath, L'\\');
  const bool intoFolder = slash && slash[1] == 0;
  g_dirUnits = slash ? static_cast<std::size_t>(slash - g_lastPath) + 1 : 0;
  std::wmemcpy(g_dir, g_lastPath, g_dirUnits);
  g_dir[g_dirUnits] = 0;

  g_haveOld = intoFolder && ReadManifest(g_dir, &g_old);
  const bool backup = intoFolder && (g_haveOld || g_backupOptions.all);
  BeginAtticRun();
  g_atticForFiles = g_haveOld;
  g_isRecordedMail = g_haveOld ? &IsRecordedMail : nullptr;
  IndexOldEntries();
  if (g_haveOld) CompareWithListing(g_backupOptions.all && !g_backupOptions.refetch);
  g_beforeNaming = &ClaimKeptNames;
  g_rowSaved = &RowSavedAt;

  Message result = DownloadSelection(g_lastPath);

  g_beforeNaming = nullptr;
  g_rowSaved = nullptr;
  // A run that went through the whole listing knows which rows are gone.
  const bool complete =
      g_backupOptions.all &&
      (!result || result == MSG_BAD_DATA || result == MSG_BAD_BOOKMARK || result == MSG_NOT_SAVED);
  if (!FinishManifest(backup, complete) && !result) result = MSG_CANNOT_WRITE;
  g_atticForFiles = false;
  g_isRecordedMail = nullptr;

  g_summary.saved = static_cast<int>(g_savedRows.size());
  g_summary.renamed = RenamedRowCount();
  g_summary.notSaved = NotSavedRowCount();
  g_summary.atticMoves = AtticMoves();
  std::wcsncpy(g_summary.attic, AtticFolder(), kPathUnits - 1);
  g_summary.milliseconds = GetTickCount() - started;
  g_summary.interrupted = result == MSG_INTERRUPTED || g_stopRequest;
  return result;
}

struct ListingAndDownload {
  int (*choose)(void*);
  void* context;
};

Message ListingAndDownloadTransfer(void* context) {
  const ListingAndDownload* run = static_cast<const ListingAndDownload*>(context);
  const Message listing = FetchListing();
  if (listing) return listing;
  if (run->choose(run->context) != 0) return nullptr;
  return DownloadWithBackup();
}

}  // namespace backup_run

using namespace backup_run;

Message BackupDownloadTransfer(void*) { return DownloadWithBackup(); }

const DownloadSummary& LastDownloadSummary() { return g_summary; }

Message RunListingAndDownload(int (*choose)(void* context), void* context) {
  g_connected = false;
  if (g_listView) SendMessageW(g_listView, LVM_DELETEALLITEMS, 0, 0);
  g_summary = DownloadSummary{};
  ListingAndDownload run = {choose, context};
  return RunOperation(&ListingAndDownloadTransfer, &run, true);
}
