// A backup folder: the manifest palvo-backup.tsv that a download keeps in a
// folder made by get --all, the incremental run over it, and the check of a
// backup against its manifest and the handset. The restore reads the manifest
// through ReadManifest.
//
// palvo-backup.tsv, UTF-8, lines ending in LF: the header line
//   "# palvo VERSION\tname\tbytes\tcategory\tlocal\tsize\tdate\tsha256\tsaved"
// then one line per saved file, fields TAB-separated:
//   name      the handset's name as shown (UTF-8)
//   bytes     the handset's exact name bytes in hex where they are not the
//             Shift-JIS form of name; else empty
//   category  image, music, net, card, other; bookmarks, address, mail
//   local     the file's name in the folder
//   size      its exact size in bytes
//   date      the handset's date "YYYY/MM/DD hh:mm"; empty when none
//   sha256    the SHA-256 of the saved file, 64 lower-case hex digits
//   saved     when it was saved, UTC, "YYYY-MM-DDThh:mm:ssZ"
// In name and local a backslash, TAB, CR and LF are written \\, \t, \r, \n.
#pragma once

#include <cstdint>
#include <vector>

#include "link/state.h"
#include "platform/backup_names.h"

struct ManifestEntry {
  char* name;
  char* bytes;
  char* category;
  char* local;
  std::uint64_t size;
  char* date;
  char* sha256;
  char* saved;
};

// The manifest read whole: the entries' texts point into text.
struct Manifest {
  std::vector<char> text;
  std::vector<ManifestEntry> entries;
  int badLines = 0;  // lines that did not parse, left out
};

// Reads the manifest of dir (a folder path ending with a backslash). False
// when the folder has none or it cannot be read.
bool ReadManifest(const WCHAR* dir, Manifest* manifest);
// Parses text (its last byte a terminator, cut in place) into entries: the
// header line, empty lines and lines without eight fields, a decimal size
// and a 64-digit SHA-256 are left out (counted in badLines, but the header).
void ParseManifest(Manifest* manifest);

// The handset's name bytes an entry stands for (bytes, or name in
// Shift-JIS), at most out's room; false when they do not fit.
bool ManifestNameBytes(const ManifestEntry& entry, char* out, std::size_t room, std::size_t* n);

// The download command's transfer: DownloadSelection to g_lastPath with the
// backup folder's manifest, attic and incremental run (g_backupOptions).
Message BackupDownloadTransfer(void* unused);
