// What the export's steps share: the paths of one run, the files it wrote
// and the first failure, which ends it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "export/archive.h"
#include "export/contacts.h"
#include "export/export.h"
#include "export/manifest.h"

namespace exporting {

namespace fs = std::filesystem;

constexpr DWORD kCopyPiece = 65536;
// In an export, the list of what it wrote (one path a line).
inline constexpr char kMarker[] = ".palvo-export";

// Paths as UTF-8 (generic separators), and back.
std::string U8(const fs::path& p);
std::wstring Wide(const std::string& utf8);
// A program path (absolute, backslashes) as the file system's path.
fs::path FsPath(const WCHAR* path);
// A path as the Win32 calls (or their stand-in) take it.
std::wstring NativeWide(const fs::path& p);
std::string Lower(std::string s);
// A file time as the handset's clock shows it (Japanese time).
std::string HandsetTime(fs::file_time_type t);

struct Entry {
  std::string name;  // UTF-8
  fs::path path;
  fs::file_time_type time;
  std::uintmax_t size = 0;
};

struct Run {
  const ExportOptions* options;
  ExportReport* r;
  fs::path from, temp;
  std::vector<std::string> written;
  std::string failure;  // the failed file and why; non-empty ends the run
  std::vector<BackupListEntry> manifest;
  ArchiveContent archive;
  ContactBook contacts;
  std::vector<Entry> addressBooks, mails, files;
  const Entry* bookmarks = nullptr;
  InStream in;
  OutStream out, mbox;
  BYTE copy[kCopyPiece];
};

bool Stopped(const Run& run);
// Records the first failure (the file and why); returns false.
bool Fail(Run& run, const std::string& file, const char* english, const char* japanese);
HANDLE OpenInput(const fs::path& p);
// A new file in the temporary folder (rel: its path there), recorded for the
// list of what the export wrote.
HANDLE CreateOutput(Run& run, const std::string& rel);
bool FinishOutput(Run& run, OutStream& out, HANDLE h, const std::string& rel);
bool WriteWhole(Run& run, const std::string& rel, const std::string& bytes);
bool ReadWhole(Run& run, const Entry& e, std::string* bytes);

// The steps, in their order; each does nothing once the run failed.
bool Classify(Run& run);
void Contacts(Run& run);
void Bookmarks(Run& run);
void Mails(Run& run);
void Files(Run& run);
// The archive's pages and the list of what was written.
void Archive(Run& run);

}  // namespace exporting
