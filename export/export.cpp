#include "export/export.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "export/archive.h"
#include "export/contacts.h"
#include "export/convert.h"
#include "export/manifest.h"
#include "export/message.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD kCopyPiece = 65536;
constexpr std::uintmax_t kTextCopyLimit = 16u << 20;  // larger text files get no UTF-8 copy
const char kMarker[] = ".palvo-export";               // what an export wrote, one path a line
const char kManifest[] = "palvo-backup.tsv";
const char kAttic[] = "palvo-attic";

std::string U8(const fs::path& p) {
#ifdef _WIN32
  const std::u8string s = p.generic_u8string();
  return std::string(s.begin(), s.end());
#else
  return p.generic_string();
#endif
}

std::wstring Wide(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

// A program path (absolute, backslashes) as the file system's path.
fs::path FsPath(const WCHAR* path) {
#ifdef _WIN32
  return fs::path(path);
#else
  const int n = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, path, -1, s.data(), n, nullptr, nullptr);
  s.pop_back();
  std::replace(s.begin(), s.end(), '\\', '/');
  return fs::path(s);
#endif
}

std::wstring NativeWide(const fs::path& p) {
#ifdef _WIN32
  return p.wstring();
#else
  return Wide(p.string());
#endif
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// inner is outer itself or lies inside it.
bool Within(const fs::path& inner, const fs::path& outer) {
  const fs::path rel = inner.lexically_relative(outer);
  return !rel.empty() && *rel.begin() != "..";
}

bool IsMailFileName(const std::string& name) {
  const std::string n = Lower(name);
  if (n.compare(0, 4, "mail") != 0) return false;
  std::size_t i = 4;
  while (i < n.size() && n[i] >= '0' && n[i] <= '9') ++i;
  return i - 4 >= 3 && n.compare(i, std::string::npos, ".txt") == 0;
}

std::string Extension(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? "" : Lower(name.substr(dot));
}

bool IsTextExtension(const std::string& ext) {
  for (const char* e : {".txt", ".htm", ".html", ".csv", ".vcf", ".vcs"})
    if (ext == e) return true;
  return false;
}

bool IsPhotoExtension(const std::string& ext) {
  for (const char* e : {".jpg", ".jpeg", ".png", ".gif", ".bmp", ".webp"})
    if (ext == e) return true;
  return false;
}

// A file time as the handset's clock shows it (Japanese time).
std::string HandsetTime(fs::file_time_type t) {
  using namespace std::chrono;
  const auto sys = time_point_cast<minutes>(file_clock::to_sys(t)) + hours(9);
  const auto day = floor<days>(sys);
  const year_month_day ymd{day};
  const auto hm = hh_mm_ss<minutes>(sys - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02u/%02u %02ld:%02ld", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<long>(hm.hours().count()), static_cast<long>(hm.minutes().count()));
  return text;
}

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
  std::vector<ManifestEntry> manifest;
  ArchiveContent archive;
  ContactBook contacts;
  std::vector<Entry> addressBooks, mails, files;
  const Entry* bookmarks = nullptr;
  InStream in;
  OutStream out, mbox;
  BYTE copy[kCopyPiece];
};

bool Stopped(const Run& run) { return run.options->stop && *run.options->stop; }

bool Fail(Run& run, const std::string& file, const std::string& why) {
  if (run.failure.empty()) run.failure = file + ": " + why;
  return false;
}

HANDLE OpenInput(const fs::path& p) {
  return CreateFileW(NativeWide(p).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A new file in the temporary folder, recorded for the marker.
HANDLE CreateOutput(Run& run, const std::string& rel) {
  std::error_code ec;
  const fs::path p = run.temp / fs::path(Wide(rel));
  fs::create_directories(p.parent_path(), ec);
  HANDLE h = CreateFileW(NativeWide(p).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail(run, rel, "cannot be written");
  } else {
    run.written.push_back(rel);
  }
  return h;
}

bool FinishOutput(Run& run, OutStream& out, HANDLE h, const std::string& rel) {
  const bool ok = out.Flush();
  CloseHandle(h);
  return ok || Fail(run, rel, "could not be written whole (disk full?)");
}

bool WriteWhole(Run& run, const std::string& rel, const std::string& bytes) {
  HANDLE h = CreateOutput(run, rel);
  if (h == INVALID_HANDLE_VALUE) return false;
  run.out.OpenFile(h);
  run.out.Write(bytes.data(), bytes.size());
  return FinishOutput(run, run.out, h, rel);
}

bool ReadWhole(Run& run, const Entry& e, std::string* bytes) {
  HANDLE h = OpenInput(e.path);
  if (h == INVALID_HANDLE_VALUE) return Fail(run, e.name, "cannot be read");
  bytes->clear();
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, run.copy, kCopyPiece, &got, nullptr)) {
      CloseHandle(h);
      return Fail(run, e.name, "could not be read to its end");
    }
    if (got == 0) break;
    bytes->append(reinterpret_cast<const char*>(run.copy), got);
  }
  CloseHandle(h);
  return true;
}

// The entries of the backup, sorted by name, each to the step it is for.
// Hidden files (part files among them), the attic and the list are the
// backup's own; links and folders are not followed.
bool Classify(Run& run) {
  std::error_code ec;
  std::vector<Entry> entries;
  for (fs::directory_iterator it(run.from, ec), end; !ec && it != end; it.increment(ec)) {
    Entry e;
    e.path = it->path();
    e.name = U8(e.path.filename());
    const fs::file_status st = it->symlink_status(ec);
    if (ec) break;
    ExportReport& r = *run.r;
    if (e.name.empty() || e.name[0] == '.') continue;
    if (e.name == kAttic && fs::is_directory(st)) continue;
    if (fs::is_symlink(st) || !fs::is_regular_file(st)) {
      r.problems.SetFile(e.name.c_str());
      if (e.name != kManifest)
        r.problems.Add(0, fs::is_directory(st) ? "a folder: not exported" : "a link: not exported");
      continue;
    }
    e.size = it->file_size(ec);
    e.time = it->last_write_time(ec);
    if (ec) break;
    entries.push_back(std::move(e));
  }
  if (ec) return Fail(run, U8(run.from), "cannot be listed");
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  bool address = false, bookmarks = false;
  for (Entry& e : entries) {
    const std::string lower = Lower(e.name);
    if (e.name == kManifest) {
      std::string text;
      if (!ReadWhole(run, e, &text)) return false;
      run.manifest = ParseManifest(text.data(), text.size());
      run.r->manifest = true;
    } else if (lower == "address.txt" && !address) {
      address = true;
      run.addressBooks.push_back(e);
    } else if (lower == "bookmark.txt" && !bookmarks) {
      bookmarks = true;
      run.files.push_back(e);  // its place is kept; converted below
    } else if (IsMailFileName(e.name)) {
      run.mails.push_back(e);
    } else {
      if (Extension(e.name) == ".vcf") run.addressBooks.push_back(e);
      run.files.push_back(e);
    }
  }
  for (std::size_t i = 0; i < run.files.size(); ++i) {
    if (Lower(run.files[i].name) != "bookmark.txt") continue;
    static Entry bookmarkEntry;
    bookmarkEntry = run.files[i];
    run.bookmarks = &bookmarkEntry;
    run.files.erase(run.files.begin() + static_cast<std::ptrdiff_t>(i));
    break;
  }
  return true;
}

void Contacts(Run& run) {
  ExportReport& r = *run.r;
  std::string converted;
  for (const Entry& e : run.addressBooks) {
    if (Stopped(run) || !run.failure.empty()) return;
    HANDLE h = OpenInput(e.path);
    if (h == INVALID_HANDLE_VALUE) {
      Fail(run, e.name, "cannot be read");
      return;
    }
    r.problems.SetFile(e.name.c_str());
    run.in.OpenFile(h);
    converted.clear();
    run.out.OpenMemory(&converted);
    ConvertAddressBook(run.in, run.out, r.problems);
    run.out.Flush();
    const bool failed = run.in.failed();
    CloseHandle(h);
    if (failed) {
      Fail(run, e.name, "could not be read to its end");
      return;
    }
    ++r.contactFiles;
    run.contacts.Add(converted);
  }
  if (r.contactFiles == 0) return;
  r.contacts = run.contacts.size();
  r.mergedContacts = run.contacts.merged();
  converted.clear();
  run.out.OpenMemory(&converted);
  run.contacts.Write(run.out);
  run.out.Flush();
  WriteWhole(run, "contacts.vcf", converted);
  run.archive.contacts = run.contacts.Rows();
}

void Bookmarks(Run& run) {
  if (!run.bookmarks || !run.failure.empty()) return;
  ExportReport& r = *run.r;
  const Entry& e = *run.bookmarks;
  HANDLE in = OpenInput(e.path);
  if (in == INVALID_HANDLE_VALUE) {
    Fail(run, e.name, "cannot be read");
    return;
  }
  HANDLE out = CreateOutput(run, "bookmarks.html");
  if (out == INVALID_HANDLE_VALUE) {
    CloseHandle(in);
    return;
  }
  r.problems.SetFile(e.name.c_str());
  run.in.OpenFile(in);
  run.out.OpenFile(out);
  const BookmarkCounts counts = ConvertBookmarks(run.in, run.out, r.problems);
  const bool readOk = !run.in.failed();
  CloseHandle(in);
  if (!FinishOutput(run, run.out, out, "bookmarks.html")) return;
  if (!readOk) {
    Fail(run, e.name, "could not be read to its end");
    return;
  }
  r.bookmarkFile = true;
  r.bookmarks = counts.bookmarks;
  r.bookmarkFolders = counts.folders;
  run.archive.haveBookmarks = true;
  run.archive.bookmarks = counts.bookmarks;
}

// The mail files in number order: mail/NNN.eml, one message each in
// mail.mbox, and each one's page. A file that is no mail is kept as a file.
void Mails(Run& run) {
  ExportReport& r = *run.r;
  std::sort(run.mails.begin(), run.mails.end(), [](const Entry& a, const Entry& b) {
    const std::string x = a.name.substr(4), y = b.name.substr(4);
    return x.size() != y.size() ? x.size() < y.size() : x < y;
  });
  if (run.mails.empty() || !run.failure.empty()) return;
  HANDLE mbox = CreateOutput(run, "mail.mbox");
  if (mbox == INVALID_HANDLE_VALUE) return;
  run.mbox.OpenFile(mbox);
  std::string eml, page;
  std::set<std::string> numbers;
  for (const Entry& e : run.mails) {
    if (Stopped(run) || !run.failure.empty()) break;
    HANDLE h = OpenInput(e.path);
    if (h == INVALID_HANDLE_VALUE) {
      Fail(run, e.name, "cannot be read");
      break;
    }
    ArchiveMail mail;
    mail.number = e.name.substr(4, e.name.size() - 8);
    while (!numbers.insert(Lower(mail.number)).second) mail.number += "-2";
    eml.clear();
    page.clear();
    OutStream emlOut, pageOut;
    emlOut.OpenMemory(&eml);
    pageOut.OpenMemory(&page);
    MailOutputs outputs{&emlOut, &run.mbox, &pageOut};
    r.problems.SetFile(e.name.c_str());
    run.in.OpenFile(h);
    const MailKind kind = ConvertMessage(run.in, outputs, mail.summary, &r.pictograms, r.problems);
    const bool readOk = !run.in.failed();
    CloseHandle(h);
    if (!readOk) {
      Fail(run, e.name, "could not be read to its end");
      break;
    }
    if (kind == MailKind::kNotMail) {
      ++r.notMails;
      run.files.push_back(e);
      continue;
    }
    emlOut.Flush();
    pageOut.Flush();
    mail.light = kind == MailKind::kLightMail;
    if (!WriteWhole(run, "mail/" + mail.number + ".eml", eml)) break;
    if (!WriteWhole(run, "archive/mail/" + mail.number + ".html",
                    MailPageHead(mail, run.bookmarks != nullptr) + page + MailPageFoot()))
      break;
    ++(mail.light ? r.lightMails : r.mails);
    run.archive.mails.push_back(std::move(mail));
  }
  FinishOutput(run, run.mbox, mbox, "mail.mbox");
}

// "memo.txt" -> "memo.utf-8.txt"
std::string Utf8CopyName(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return name.substr(0, dot) + ".utf-8" + name.substr(dot);
}

// Each "charset=NAME" (any letter case, NAME quoted or not) that names
// Shift-JIS made to name UTF-8.
void Recharset(std::string& text) {
  const std::string lower = Lower(text);
  std::string out;
  std::size_t at = 0;
  for (std::size_t hit; (hit = lower.find("charset=", at)) != std::string::npos;) {
    std::size_t name = hit + 8;
    if (name < lower.size() && (lower[name] == '"' || lower[name] == '\'')) ++name;
    std::size_t end = name;
    while (end < lower.size() && (std::isalnum(static_cast<unsigned char>(lower[end])) ||
                                  lower[end] == '_' || lower[end] == '-'))
      ++end;
    const std::string n = lower.substr(name, end - name);
    const bool sjis = n == "shift_jis" || n == "shift-jis" || n == "x-sjis" || n == "sjis" ||
                      n == "windows-31j" || n == "cp932";
    out += text.substr(at, name - at) + (sjis ? "UTF-8" : text.substr(name, end - name));
    at = end;
  }
  text = out + text.substr(at);
}

// A text file's UTF-8 copy when it is in code page 932: not plain ASCII, not
// UTF-8 already, and every byte part of a character.
bool Utf8Copy(Run& run, const Entry& e, const std::set<std::string>& taken, ArchiveFile& file) {
  const std::string ext = Extension(e.name);
  if (!IsTextExtension(ext) || e.size > kTextCopyLimit || e.size == 0) return true;
  std::string bytes;
  if (!ReadWhole(run, e, &bytes)) return false;
  const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                   static_cast<int>(bytes.size()), nullptr, 0) > 0)
    return true;
  const int n = MultiByteToWideChar(kShiftJisPage, MB_ERR_INVALID_CHARS, bytes.data(),
                                    static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return true;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(kShiftJisPage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                      n);
  const int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(m > 0 ? m : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, text.data(), m, nullptr, nullptr);
  Recharset(text);  // an HTML file's declaration, a vCard's parameters
  const std::string name = Utf8CopyName(e.name);
  if (taken.count(Lower(name))) {
    run.r->problems.SetFile(e.name.c_str());
    run.r->problems.Add(0, "no UTF-8 copy: the backup has a file named %s", name.c_str());
    return true;
  }
  if (!WriteWhole(run, "files/" + name, text)) return false;
  std::error_code ec;
  fs::last_write_time(run.temp / "files" / fs::path(Wide(name)), e.time, ec);
  file.utf8Copy = name;
  ++run.r->utf8Copies;
  return true;
}

bool CopyFile(Run& run, const Entry& e) {
  const std::string rel = "files/" + e.name;
  HANDLE in = OpenInput(e.path);
  if (in == INVALID_HANDLE_VALUE) return Fail(run, e.name, "cannot be read");
  HANDLE out = CreateOutput(run, rel);
  if (out == INVALID_HANDLE_VALUE) {
    CloseHandle(in);
    return false;
  }
  unsigned long long total = 0;
  bool ok = true;
  while (ok) {
    if (Stopped(run)) {
      ok = false;
      break;
    }
    DWORD got = 0;
    if (!ReadFile(in, run.copy, kCopyPiece, &got, nullptr)) {
      ok = Fail(run, e.name, "could not be read to its end");
      break;
    }
    if (got == 0) break;
    for (DWORD done = 0; ok && done < got;) {
      DWORD wrote = 0;
      if (!WriteFile(out, run.copy + done, got - done, &wrote, nullptr) || wrote == 0)
        ok = Fail(run, rel, "could not be written whole (disk full?)");
      done += wrote;
    }
    total += got;
  }
  CloseHandle(out);
  CloseHandle(in);
  if (!ok) return false;
  std::error_code ec;
  fs::last_write_time(run.temp / fs::path(Wide(rel)), e.time, ec);
  run.r->fileBytes += total;
  return true;
}

void Files(Run& run) {
  std::sort(run.files.begin(), run.files.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  std::set<std::string> taken;
  for (const Entry& e : run.files) taken.insert(Lower(e.name));
  for (const Entry& e : run.files) {
    if (Stopped(run) || !run.failure.empty()) return;
    if (!CopyFile(run, e)) return;
    ++run.r->files;
    ArchiveFile file;
    file.name = e.name;
    file.size = e.size;
    const ManifestEntry* m = FindEntry(run.manifest, e.name);
    file.date = m && !m->handsetDate.empty() ? m->handsetDate : HandsetTime(e.time);
    file.photo = IsPhotoExtension(Extension(e.name));
    run.r->photos += file.photo ? 1 : 0;
    if (!Utf8Copy(run, e, taken, file)) return;
    run.archive.files.push_back(std::move(file));
  }
}

void Archive(Run& run) {
  if (!run.failure.empty() || Stopped(run)) return;
  run.archive.backupName = U8(run.from.filename());
  // The backup's date: its newest file's.
  fs::file_time_type newest = fs::file_time_type::min();
  for (const std::vector<Entry>* list : {&run.addressBooks, &run.mails, &run.files})
    for (const Entry& e : *list) newest = std::max(newest, e.time);
  if (run.bookmarks) newest = std::max(newest, run.bookmarks->time);
  run.archive.backupDate = newest == fs::file_time_type::min() ? "-" : HandsetTime(newest);
  run.archive.pictograms = run.r->pictograms;
  for (const auto& [path, text] : ArchivePages(run.archive))
    if (!WriteWhole(run, path, text)) return;
  std::string marker = "palvo export\n";
  for (const std::string& w : run.written) marker += w + "\n";
  WriteWhole(run, kMarker, marker);
}

enum class Target { kMissing, kEmpty, kEarlierExport, kForeign };

// What OUT holds: an earlier export holds no file its marker does not list.
Target Inspect(const fs::path& out, std::string* firstForeign) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(out, ec))) return Target::kMissing;
  std::set<std::string> listed;
  std::string marker;
  if (FILE* f = std::fopen(U8(out / kMarker).c_str(), "rb")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
      marker.append(buffer, n);
    std::fclose(f);
  }
  for (std::size_t at = 0; at < marker.size();) {
    std::size_t end = marker.find('\n', at);
    if (end == std::string::npos) end = marker.size();
    listed.insert(marker.substr(at, end - at));
    at = end + 1;
  }
  bool any = false;
  for (fs::recursive_directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec)) {
    any = true;
    const std::string rel = U8(it->path().lexically_relative(out));
    const fs::file_status st = it->symlink_status(ec);
    if (fs::is_directory(st)) continue;
    if (rel == kMarker && !listed.empty()) continue;
    if (fs::is_symlink(st) || !listed.count(rel)) {
      *firstForeign = rel;
      return Target::kForeign;
    }
  }
  if (ec) {
    *firstForeign = "(cannot be listed)";
    return Target::kForeign;
  }
  return any ? Target::kEarlierExport : Target::kEmpty;
}

// A free name beside OUT: ".NAME.palvo-KIND-N" (hidden) or "NAME.before-export[-N]".
fs::path Beside(const fs::path& out, const std::string& kind, bool hidden) {
  const std::string name = U8(out.filename());
  std::error_code ec;
  for (int i = 1;; ++i) {
    std::string candidate = hidden ? "." + name + ".palvo-" + kind + "-" + std::to_string(i)
                                   : name + "." + kind + (i > 1 ? "-" + std::to_string(i) : "");
    const fs::path p = out.parent_path() / fs::path(Wide(candidate));
    if (!fs::exists(fs::symlink_status(p, ec))) return p;
  }
}

std::wstring g_message;

const WCHAR* Message(const std::string& text) {
  g_message = Wide(text);
  return g_message.c_str();
}

// The whole export in the temporary folder; true when it is whole.
bool WriteExport(Run& run) {
  if (!Classify(run)) return false;
  Contacts(run);
  Bookmarks(run);
  Mails(run);
  Files(run);
  Archive(run);
  return run.failure.empty() && !Stopped(run);
}

// OUT replaced by the finished temporary folder; what it held goes aside
// first, so that a failed rename leaves it where it was.
const WCHAR* PutInPlace(Run& run, const fs::path& out, Target target) {
  std::error_code ec;
  fs::path aside;
  if (target != Target::kMissing) {
    aside = Beside(out, target == Target::kForeign ? "before-export" : "old",
                   target != Target::kForeign);
    fs::rename(out, aside, ec);
    if (ec) {
      fs::remove_all(run.temp, ec);
      return Message(U8(out) + ": cannot be replaced (" + ec.message() + "); left as it was");
    }
  }
  fs::rename(run.temp, out, ec);
  if (ec) {
    const std::string why = ec.message();
    if (!aside.empty()) fs::rename(aside, out, ec);
    fs::remove_all(run.temp, ec);
    return Message(U8(out) + ": cannot be put in place (" + why + "); left as it was");
  }
  if (target == Target::kForeign) {
    run.r->keptAside = U8(aside);
  } else if (!aside.empty()) {
    fs::remove_all(aside, ec);  // an earlier export, or an empty folder
  }
  return nullptr;
}

void ClearReport(ExportReport& r) {
  r.contactFiles = r.contacts = r.mergedContacts = 0;
  r.bookmarkFile = false;
  r.bookmarks = r.bookmarkFolders = r.lightMails = r.mails = r.notMails = 0;
  r.pictograms = r.fileBytes = 0;
  r.files = r.photos = r.utf8Copies = 0;
  r.manifest = false;
  r.keptAside.clear();
  r.problems.Clear();
}

Run g_run;

}  // namespace

const WCHAR* ExportBackup(const WCHAR* fromPath, const WCHAR* toPath, const ExportOptions& options,
                          ExportReport* report) {
  ExportReport& r = *report;
  ClearReport(r);
  std::error_code ec;
  const fs::path from = fs::canonical(FsPath(fromPath), ec);
  if (ec || !fs::is_directory(from)) return L"the backup is not a folder";
  // OUT as it really lies, links resolved, so that a link into the backup
  // is seen for what it is.
  const fs::path out = fs::weakly_canonical(FsPath(toPath), ec);
  if (ec || out.filename().empty()) return L"cannot resolve the export folder";
  if (Within(out, from)) return L"the export folder must lie outside the backup folder";
  if (Within(from, out)) return L"the backup folder must not lie inside the export folder";
  const fs::file_status st = fs::status(out, ec);
  if (fs::exists(st) && !fs::is_directory(st)) return L"the export folder is a file";
  if (!fs::is_directory(out.parent_path(), ec)) return L"cannot make the export folder";
  std::string foreign;
  const Target target = Inspect(out, &foreign);
  if (target == Target::kForeign && !options.force)
    return Message(U8(out) + " holds files an export did not write (" + foreign +
                   "); give --force to put them aside and export");

  Run& run = g_run;
  run.written.clear();
  run.failure.clear();
  run.manifest.clear();
  run.archive = ArchiveContent();
  run.contacts = ContactBook();
  run.addressBooks.clear();
  run.mails.clear();
  run.files.clear();
  run.bookmarks = nullptr;
  run.options = &options;
  run.r = &r;
  run.from = from;
  run.temp = Beside(out, "export", true);
  if (!fs::create_directory(run.temp, ec) || ec)
    return L"cannot make a temporary folder beside the export folder";
  if (!WriteExport(run)) {
    fs::remove_all(run.temp, ec);
    if (Stopped(run)) return L"stopped; the export folder is left as it was";
    return Message(run.failure + "; the export folder is left as it was");
  }
  return PutInPlace(run, out, target);
}
