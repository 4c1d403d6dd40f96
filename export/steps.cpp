// The export's steps: the backup's files sorted out, then each kind written
// into the temporary folder.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "export/convert.h"
#include "export/message.h"
#include "export/run.h"
#include "platform/backup_names.h"

namespace exporting {

namespace {

constexpr std::uintmax_t kTextCopyLimit = 16u << 20;  // larger text files get no UTF-8 copy
const char kManifest[] = "palvo-backup.tsv";
const char kAttic[] = "palvo-attic";

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
    run.r->problems.Add(
        0, "no UTF-8 copy: the backup has a file named %s",
        "UTF-8 の写しは作りません: バックアップに %s という名前のファイルがあります", name.c_str());
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
  if (in == INVALID_HANDLE_VALUE) return Fail(run, e.name, "cannot be read", "読めません");
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
      ok = Fail(run, e.name, "could not be read to its end", "最後まで読めませんでした");
      break;
    }
    if (got == 0) break;
    for (DWORD done = 0; ok && done < got;) {
      DWORD wrote = 0;
      if (!WriteFile(out, run.copy + done, got - done, &wrote, nullptr) || wrote == 0)
        ok = Fail(run, rel, "could not be written whole (disk full?)",
                  "全部は書き込めませんでした (ディスクがいっぱいかもしれません)");
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

}  // namespace

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
      if (e.name != kManifest && fs::is_directory(st))
        r.problems.Add(0, "a folder: not exported", "フォルダです: 書き出しません");
      else if (e.name != kManifest)
        r.problems.Add(0, "a link: not exported", "リンクです: 書き出しません");
      continue;
    }
    e.size = it->file_size(ec);
    e.time = it->last_write_time(ec);
    if (ec) break;
    entries.push_back(std::move(e));
  }
  if (ec) return Fail(run, U8(run.from), "cannot be listed", "中身を一覧できません");
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  const std::string addressName = Lower(U8(fs::path(kAddressFileName)));
  const std::string bookmarkName = Lower(U8(fs::path(kBookmarkFileName)));
  bool address = false, bookmarks = false;
  for (Entry& e : entries) {
    const std::string lower = Lower(e.name);
    if (e.name == kManifest) {
      std::string text;
      if (!ReadWhole(run, e, &text)) return false;
      run.manifest = ParseBackupList(text.data(), text.size());
      run.r->manifest = true;
    } else if (lower == addressName && !address) {
      address = true;
      run.addressBooks.push_back(e);
    } else if (lower == bookmarkName && !bookmarks) {
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
    if (Lower(run.files[i].name) != bookmarkName) continue;
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
      Fail(run, e.name, "cannot be read", "読めません");
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
      Fail(run, e.name, "could not be read to its end", "最後まで読めませんでした");
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
    Fail(run, e.name, "cannot be read", "読めません");
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
    Fail(run, e.name, "could not be read to its end", "最後まで読めませんでした");
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
      Fail(run, e.name, "cannot be read", "読めません");
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
      Fail(run, e.name, "could not be read to its end", "最後まで読めませんでした");
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
    const BackupListEntry* m = FindBackupListEntry(run.manifest, e.name);
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

}  // namespace exporting
