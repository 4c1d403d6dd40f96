#include "export/export.h"

#include <string>

#include "export/run.h"

using namespace exporting;

namespace {

// inner is outer itself or lies inside it.
bool Within(const fs::path& inner, const fs::path& outer) {
  const fs::path rel = inner.lexically_relative(outer);
  return !rel.empty() && *rel.begin() != "..";
}

enum class Target { kMissing, kEmpty, kEarlierExport, kForeign };

// What OUT holds: an earlier export holds no file its marker does not list.
Target Inspect(const fs::path& out, std::string* firstForeign) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(out, ec))) return Target::kMissing;
  std::set<std::string> listed;
  std::string marker;
  HANDLE f = OpenInput(out / kMarker);
  if (f != INVALID_HANDLE_VALUE) {
    char buffer[4096];
    for (DWORD n; ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n > 0;)
      marker.append(buffer, n);
    CloseHandle(f);
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
    std::string candidate = hidden ? "." : "";
    candidate.append(name).append(hidden ? ".palvo-" : ".").append(kind);
    if (hidden || i > 1) candidate.append("-").append(std::to_string(i));
    const fs::path p = out.parent_path() / fs::path(Wide(candidate));
    if (!fs::exists(fs::symlink_status(p, ec))) return p;
  }
}

std::wstring g_message;

const WCHAR* Say(bool japanese, const WCHAR* english, const WCHAR* inJapanese) {
  return japanese ? inJapanese : english;
}

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
  const bool ja = run.options->japanese;
  std::error_code ec;
  fs::path aside;
  if (target != Target::kMissing) {
    aside = Beside(out, target == Target::kForeign ? "before-export" : "old",
                   target != Target::kForeign);
    fs::rename(out, aside, ec);
    if (ec) {
      fs::remove_all(run.temp, ec);
      return Message(U8(out) + (ja ? ": 置き換えられません (" : ": cannot be replaced (") +
                     ec.message() + (ja ? ")。そのままです" : "); left as it was"));
    }
  }
  fs::rename(run.temp, out, ec);
  if (ec) {
    const std::string why = ec.message();
    if (!aside.empty()) fs::rename(aside, out, ec);
    fs::remove_all(run.temp, ec);
    return Message(U8(out) + (ja ? ": 置けません (" : ": cannot be put in place (") + why +
                   (ja ? ")。そのままです" : "); left as it was"));
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
  const bool ja = options.japanese;
  r.problems.SetJapanese(ja);
  std::error_code ec;
  const fs::path from = fs::canonical(FsPath(fromPath), ec);
  if (ec || !fs::is_directory(from))
    return Say(ja, L"the backup is not a folder", L"バックアップがフォルダではありません");
  // OUT as it really lies, links resolved, so that a link into the backup
  // is seen for what it is.
  const fs::path out = fs::weakly_canonical(FsPath(toPath), ec);
  if (ec || out.filename().empty())
    return Say(ja, L"cannot resolve the export folder", L"書き出し先のフォルダを解決できません");
  if (Within(out, from))
    return Say(ja, L"the export folder must lie outside the backup folder",
               L"書き出し先はバックアップのフォルダの外にしてください");
  if (Within(from, out))
    return Say(ja, L"the backup folder must not lie inside the export folder",
               L"バックアップのフォルダを書き出し先の中にはできません");
  const fs::file_status st = fs::status(out, ec);
  if (fs::exists(st) && !fs::is_directory(st))
    return Say(ja, L"the export folder is a file", L"書き出し先がファイルです");
  if (!fs::is_directory(out.parent_path(), ec))
    return Say(ja, L"cannot make the export folder", L"書き出し先のフォルダを作れません");
  std::string foreign;
  const Target target = Inspect(out, &foreign);
  if (target == Target::kForeign && !options.force)
    return Message(U8(out) + (ja ? " に書き出しで作ったのではないファイルがあります (" + foreign +
                                       ")。--force を付けると脇に置いてから書き出します"
                                 : " holds files an export did not write (" + foreign +
                                       "); give --force to put them aside and export"));

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
    return Say(ja, L"cannot make a temporary folder beside the export folder",
               L"書き出し先の隣に一時フォルダを作れません");
  if (!WriteExport(run)) {
    fs::remove_all(run.temp, ec);
    if (Stopped(run))
      return Say(ja, L"stopped; the export folder is left as it was",
                 L"止めました。書き出し先はそのままです");
    return Message(run.failure +
                   (ja ? "。書き出し先はそのままです" : "; the export folder is left as it was"));
  }
  return PutInPlace(run, out, target);
}
