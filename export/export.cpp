#include "export/export.h"

#include <cstdio>
#include <cwchar>

#include "export/convert.h"

namespace {

constexpr std::size_t kPath = 1024;  // units of a path we build, terminator included
constexpr DWORD kCopyPiece = 65536;

const WCHAR kContacts[] = L"contacts.vcf";
const WCHAR kBookmarksHtml[] = L"bookmarks.html";
const WCHAR kMailFolder[] = L"mail";

struct State {
  InStream in;
  OutStream out;
  BYTE copy[kCopyPiece];
  WCHAR from[kPath], to[kPath];
  WCHAR source[kPath], target[kPath];
  char name[kProblemText / 2];  // the current file's name in UTF-8
  WIN32_FIND_DATAW found;
  bool mailFolderMade;
};
State g_state;

bool IsSeparator(WCHAR c) { return c == L'\\' || c == L'/'; }

bool IsMailFileName(const WCHAR* name) {
  if (_wcsnicmp(name, L"mail", 4) != 0) return false;
  const WCHAR* p = name + 4;
  int digits = 0;
  while (*p >= L'0' && *p <= L'9') ++p, ++digits;
  return digits >= 3 && _wcsicmp(p, L".txt") == 0;
}

// folder + "\" + name into out; false when it does not fit.
bool Join(WCHAR (&out)[kPath], const WCHAR* folder, const WCHAR* name) {
  const std::size_t f = std::wcslen(folder), n = std::wcslen(name);
  const bool slash = f > 0 && IsSeparator(folder[f - 1]);
  if (f + (slash ? 0 : 1) + n + 1 > kPath) return false;
  std::wmemcpy(out, folder, f);
  std::size_t at = f;
  if (!slash) out[at++] = L'\\';
  std::wmemcpy(out + at, name, n + 1);
  return true;
}

void NameForProblems(State& s, const WCHAR* name) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, name, -1, s.name, sizeof s.name, nullptr, nullptr);
  if (n <= 0) std::snprintf(s.name, sizeof s.name, "(a file)");
}

// A path without the separator at its end (a root keeps it).
bool CopyFolderPath(WCHAR (&out)[kPath], const WCHAR* path) {
  std::size_t n = std::wcslen(path);
  if (n == 0 || n >= kPath) return false;
  std::wmemcpy(out, path, n + 1);
  while (n > 1 && IsSeparator(out[n - 1]) && !(n == 3 && out[1] == L':')) out[--n] = 0;
  return true;
}

// inner is outer itself or lies inside it (letter case ignored; both
// separators, as the paths may come with either).
bool Within(const WCHAR* inner, const WCHAR* outer) {
  std::size_t i = 0;
  for (; outer[i]; ++i) {
    const WCHAR a = inner[i], b = outer[i];
    if (IsSeparator(a) && IsSeparator(b)) continue;
    if (a == 0 || _wcsnicmp(&a, &b, 1) != 0) return false;
  }
  return inner[i] == 0 || IsSeparator(inner[i]) || (i > 0 && IsSeparator(outer[i - 1]));
}

enum class PathKind { kMissing, kFolder, kFile };

PathKind KindOf(const WCHAR* path) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(path, &data);
  if (h == INVALID_HANDLE_VALUE) return PathKind::kMissing;
  FindClose(h);
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kFile;
}

bool Exists(const WCHAR* path) { return KindOf(path) != PathKind::kMissing; }

HANDLE OpenInput(const WCHAR* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CreateOutput(const WCHAR* path) {
  return CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

enum class Conversion { kAddressBook, kBookmarks, kMail };

// One file of the backup through its converter into `outName` under `folder`.
void Convert(State& s, ExportReport& r, Conversion what, const WCHAR* name, const WCHAR* folder,
             const WCHAR* outName) {
  Problems& problems = r.problems;
  NameForProblems(s, name);
  problems.SetFile(s.name);
  if (!Join(s.source, s.from, name) || !Join(s.target, folder, outName)) {
    problems.Add(0, "the path is too long; not exported");
    r.incomplete = true;
    return;
  }
  HANDLE input = OpenInput(s.source);
  if (input == INVALID_HANDLE_VALUE) {
    problems.Add(0, "cannot be read; not exported");
    r.incomplete = true;
    return;
  }
  HANDLE output = CreateOutput(s.target);
  if (output == INVALID_HANDLE_VALUE) {
    CloseHandle(input);
    problems.Add(0, "its export cannot be written");
    r.incomplete = true;
    return;
  }
  s.in.OpenFile(input);
  s.out.OpenFile(output);
  switch (what) {
    case Conversion::kAddressBook:
      r.addressBook = true;
      r.contacts += ConvertAddressBook(s.in, s.out, problems);
      break;
    case Conversion::kBookmarks: {
      r.bookmarkFile = true;
      const BookmarkCounts counts = ConvertBookmarks(s.in, s.out, problems);
      r.bookmarks += counts.bookmarks;
      r.bookmarkFolders += counts.folders;
      break;
    }
    case Conversion::kMail:
      switch (ConvertMail(s.in, s.out, problems)) {
        case MailKind::kLightMail:
          ++r.lightMails;
          break;
        case MailKind::kMail:
          ++r.mails;
          break;
        case MailKind::kNotMail:
          ++r.notMails;
          break;
      }
      break;
  }
  if (s.in.failed()) r.incomplete = true;
  if (!s.out.Flush()) {
    problems.Add(0, "its export could not be written whole (disk full?)");
    r.incomplete = true;
  }
  CloseHandle(output);
  CloseHandle(input);
}

bool Reserved(const WCHAR* name, const ExportReport& r) {
  return (r.addressBook && _wcsicmp(name, kContacts) == 0) ||
         (r.bookmarkFile && _wcsicmp(name, kBookmarksHtml) == 0) ||
         (r.lightMails + r.mails + r.notMails > 0 && _wcsicmp(name, kMailFolder) == 0);
}

// A name for a copy whose own name the export has taken: "-1", "-2", ...
// before its extension, one that no file of the backup has.
bool FreeName(State& s, const WCHAR* name, const ExportReport& r, WCHAR (&out)[kPath]) {
  const WCHAR* dot = std::wcsrchr(name, L'.');
  const std::size_t stem =
      dot && dot != name ? static_cast<std::size_t>(dot - name) : std::wcslen(name);
  for (int i = 1; i < 1000; ++i) {
    WCHAR suffix[16];
    std::swprintf(suffix, 16, L"-%d", i);
    const std::size_t sn = std::wcslen(suffix), rest = std::wcslen(name + stem);
    if (stem + sn + rest + 1 > kPath) return false;
    std::wmemcpy(out, name, stem);
    std::wmemcpy(out + stem, suffix, sn);
    std::wmemcpy(out + stem + sn, name + stem, rest + 1);
    if (Reserved(out, r)) continue;
    if (!Join(s.source, s.from, out)) return false;
    if (!Exists(s.source)) return true;
  }
  return false;
}

// A file of the backup copied byte for byte.
void Copy(State& s, ExportReport& r, const WCHAR* name) {
  Problems& problems = r.problems;
  NameForProblems(s, name);
  problems.SetFile(s.name);
  WCHAR outName[kPath];
  if (std::wcslen(name) >= kPath) return;
  std::wcscpy(outName, name);
  if (Reserved(name, r)) {
    if (!FreeName(s, name, r, outName)) {
      problems.Add(0, "its name is taken by the export, and no other is free; not copied");
      r.incomplete = true;
      return;
    }
    char other[kProblemText / 2];
    if (WideCharToMultiByte(CP_UTF8, 0, outName, -1, other, sizeof other, nullptr, nullptr) <= 0)
      other[0] = 0;
    problems.Add(0, "its name is the export's own; copied as %s", other);
  }
  if (!Join(s.source, s.from, name) || !Join(s.target, s.to, outName)) {
    problems.Add(0, "the path is too long; not copied");
    r.incomplete = true;
    return;
  }
  HANDLE input = OpenInput(s.source);
  if (input == INVALID_HANDLE_VALUE) {
    problems.Add(0, "cannot be read; not copied");
    r.incomplete = true;
    return;
  }
  HANDLE output = CreateOutput(s.target);
  if (output == INVALID_HANDLE_VALUE) {
    CloseHandle(input);
    problems.Add(0, "its copy cannot be written");
    r.incomplete = true;
    return;
  }
  bool whole = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(input, s.copy, kCopyPiece, &got, nullptr)) {
      problems.Add(0, "could not be read to its end; the copy is cut short");
      whole = false;
      break;
    }
    if (got == 0) break;
    DWORD done = 0;
    while (done < got) {
      DWORD wrote = 0;
      if (!WriteFile(output, s.copy + done, got - done, &wrote, nullptr) || wrote == 0) break;
      done += wrote;
    }
    r.fileBytes += done;
    if (done < got) {
      problems.Add(0, "its copy could not be written whole (disk full?)");
      whole = false;
      break;
    }
  }
  CloseHandle(output);
  CloseHandle(input);
  if (whole) {
    ++r.files;
  } else {
    r.incomplete = true;
  }
}

enum class Pass { kAddressAndBookmarks, kMail, kOthers };

// Each entry of the backup folder that the pass is for.
void Walk(State& s, ExportReport& r, Pass pass) {
  WCHAR pattern[kPath];
  if (!Join(pattern, s.from, L"*")) return;
  HANDLE h = FindFirstFileW(pattern, &s.found);
  if (h == INVALID_HANDLE_VALUE) return;
  bool address = false, bookmarks = false;
  do {
    const WCHAR* name = s.found.cFileName;
    if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0) continue;
    const bool folder = (s.found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Only the first of names that differ in letter case alone is converted.
    const bool isAddress = !folder && _wcsicmp(name, L"address.txt") == 0 && !address;
    const bool isBookmarks = !folder && _wcsicmp(name, L"bookmark.txt") == 0 && !bookmarks;
    address = address || isAddress;
    bookmarks = bookmarks || isBookmarks;
    const bool isMail = !folder && IsMailFileName(name);
    switch (pass) {
      case Pass::kAddressAndBookmarks:
        if (isAddress) Convert(s, r, Conversion::kAddressBook, name, s.to, kContacts);
        if (isBookmarks) Convert(s, r, Conversion::kBookmarks, name, s.to, kBookmarksHtml);
        break;
      case Pass::kMail:
        if (isMail) {
          WCHAR mailFolder[kPath];
          if (!Join(mailFolder, s.to, kMailFolder)) break;
          if (!s.mailFolderMade && !CreateDirectoryW(mailFolder, nullptr) &&
              KindOf(mailFolder) != PathKind::kFolder) {
            NameForProblems(s, name);
            r.problems.SetFile(s.name);
            r.problems.Add(0, "the folder mail cannot be made; not exported");
            r.incomplete = true;
            break;
          }
          s.mailFolderMade = true;
          Convert(s, r, Conversion::kMail, name, mailFolder, name);
        }
        break;
      case Pass::kOthers:
        // The backup's own record and its attic of earlier files are no
        // handset data.
        if (_wcsicmp(name, folder ? L"palvo-attic" : L"palvo-backup.tsv") == 0) break;
        if (folder) {
          NameForProblems(s, name);
          r.problems.SetFile(s.name);
          r.problems.Add(0, "a folder: not exported");
        } else if (!isAddress && !isBookmarks && !isMail) {
          Copy(s, r, name);
        }
        break;
    }
  } while (FindNextFileW(h, &s.found));
  FindClose(h);
}

}  // namespace

const WCHAR* ExportBackup(const WCHAR* from, const WCHAR* to, ExportReport* report) {
  State& s = g_state;
  ExportReport& r = *report;
  r.addressBook = r.bookmarkFile = r.incomplete = false;
  r.contacts = r.bookmarks = r.bookmarkFolders = 0;
  r.lightMails = r.mails = r.notMails = r.files = 0;
  r.fileBytes = 0;
  r.problems.Clear();
  s.mailFolderMade = false;
  if (!CopyFolderPath(s.from, from) || !CopyFolderPath(s.to, to)) return L"path too long";
  if (KindOf(s.from) != PathKind::kFolder) return L"the backup is not a folder";
  // Writing into the backup, or converting the export's own files, would
  // change the very files being read.
  if (Within(s.to, s.from)) return L"the export folder must lie outside the backup folder";
  if (Within(s.from, s.to)) return L"the backup folder must not lie inside the export folder";
  const PathKind target = KindOf(s.to);
  if (target == PathKind::kFile) return L"the export folder is a file";
  if (target == PathKind::kMissing && !CreateDirectoryW(s.to, nullptr))
    return L"cannot make the export folder";

  Walk(s, r, Pass::kAddressAndBookmarks);
  Walk(s, r, Pass::kMail);
  Walk(s, r, Pass::kOthers);
  return nullptr;
}

std::string ExportSummaryText(const ExportReport& r) {
  std::string text;
  char line[kProblemText + 16];
  const unsigned mailFiles = r.lightMails + r.mails + r.notMails;
  std::snprintf(line, sizeof line,
                "exported %u contact%s, %u bookmark%s, %u mail%s; %u other file%s copied\n",
                r.contacts, r.contacts == 1 ? "" : "s", r.bookmarks, r.bookmarks == 1 ? "" : "s",
                mailFiles, mailFiles == 1 ? "" : "s", r.files, r.files == 1 ? "" : "s");
  text += line;
  if (r.addressBook) {
    std::snprintf(line, sizeof line,
                  "  contacts.vcf    %u contact%s (vCard 3.0) from address.txt\n", r.contacts,
                  r.contacts == 1 ? "" : "s");
  } else {
    std::snprintf(line, sizeof line, "  contacts.vcf    not made: no address.txt\n");
  }
  text += line;
  if (r.bookmarkFile) {
    std::snprintf(line, sizeof line,
                  "  bookmarks.html  %u bookmark%s in %u folder%s from bookmark.txt\n", r.bookmarks,
                  r.bookmarks == 1 ? "" : "s", r.bookmarkFolders,
                  r.bookmarkFolders == 1 ? "" : "s");
  } else {
    std::snprintf(line, sizeof line, "  bookmarks.html  not made: no bookmark.txt\n");
  }
  text += line;
  if (mailFiles > 0) {
    std::snprintf(line, sizeof line, "  mail/           %u light mail%s, %u mail%s", r.lightMails,
                  r.lightMails == 1 ? "" : "s", r.mails, r.mails == 1 ? "" : "s");
    text += line;
    if (r.notMails) {
      std::snprintf(line, sizeof line, ", %u files that are no mail (converted all the same)",
                    r.notMails);
      text += line;
    }
    text += "\n";
  } else {
    text += "  mail/           not made: no mailNNN.txt\n";
  }
  std::snprintf(line, sizeof line, "  other files     %u copied as they are, %llu bytes\n", r.files,
                r.fileBytes);
  text += line;
  const Problems& p = r.problems;
  if (p.invalidBytes() > 0) {
    std::snprintf(line, sizeof line, "%llu byte%s that were not valid text became U+FFFD\n",
                  p.invalidBytes(), p.invalidBytes() == 1 ? "" : "s");
    text += line;
  }
  if (p.count() == 0) {
    text += "no problems\n";
    return text;
  }
  std::snprintf(line, sizeof line, "%d problem%s:\n", p.count(), p.count() == 1 ? "" : "s");
  text += line;
  for (int i = 0; i < p.listed(); ++i) {
    text += "  ";
    text += p.text(i);
    text += "\n";
  }
  if (p.count() > p.listed()) {
    std::snprintf(line, sizeof line, "  ... and %d more\n", p.count() - p.listed());
    text += line;
  }
  if (r.incomplete) text += "the export is incomplete: a file could not be read or written\n";
  return text;
}
