// palvo put: local files uploaded in one connection, or a backup folder
// restored.
#include <CLI/CLI.hpp>
#include <cwchar>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/command.h"
#include "commands/commands.h"

namespace {

void AddOptions(CLI::App* sub, Arguments* a) {
  sub->add_flag("--all", a->all, "restore the backup folder DIR");
  sub->add_flag("--yes", a->yes,
                "replace the handset's bookmarks or address book without asking, also with an "
                "empty file; restore a folder that get --all did not make");
  sub->add_flag("--force", a->force,
                "upload ordinary files the handset holds already (same name, category and size)");
  sub->add_option("--kind", a->given.kind,
                  "upload every FILE as file (an ordinary file), bookmark, address (a file of "
                  "vCards) or mail, whatever its name")
      ->type_name("file|bookmark|address|mail");
  sub->add_option("--as", a->given.as, "the name the handset stores one ordinary FILE under")
      ->type_name("NAME");
  sub->add_option("FILE", a->given.operands);
}

bool KindFromText(const std::wstring& text, UploadKind* kind) {
  static const struct {
    const wchar_t* name;
    UploadKind kind;
  } kKinds[] = {{L"file", kUploadFile},
                {L"bookmark", kUploadBookmarks},
                {L"address", kUploadAddressBook},
                {L"mail", kUploadMail}};
  for (const auto& k : kKinds) {
    if (text == k.name) {
      *kind = k.kind;
      return true;
    }
  }
  return false;
}

// The files of a put, as the command line names them.
struct FileList {
  std::vector<UploadItem> items;
  std::size_t next = 0;
};

bool NextListed(void* context, UploadItem* item) {
  FileList* list = static_cast<FileList*>(context);
  if (list->next >= list->items.size()) return false;
  *item = list->items[list->next++];
  return true;
}

void RewindListed(void* context) { static_cast<FileList*>(context)->next = 0; }

const WCHAR* FileNameOf(const WCHAR* path) {
  const WCHAR* slash = std::wcsrchr(path, L'\\');
  return slash ? slash + 1 : path;
}

// Before a bookmark or address file replaces the handset's set: asked on a
// terminal; without one it goes ahead and says afterwards what it replaced.
bool AskReplace(const UploadItem& item, int handsetCount, int fileCount, bool done) {
  static bool asked = false;
  const bool bookmarks = item.kind == kUploadBookmarks;
  const std::string one = bookmarks ? "bookmark" : "address",
                    several = bookmarks ? "bookmarks" : "addresses";
  const std::string counts = "the handset's " + std::to_string(handsetCount) + " " +
                             (handsetCount == 1 ? one : several) + " with " +
                             std::to_string(fileCount);
  // Japanese: "電話機のブックマーク 5 件をファイルの 3 件で".
  const std::string japanese =
      std::string("電話機の") + (bookmarks ? "ブックマーク " : "アドレス ") +
      std::to_string(handsetCount) + " 件をファイルの " + std::to_string(fileCount) + " 件で";
  if (done) {
    if (!asked && !g_quiet)
      Complain(FromUtf8((AddEnglish() ? "replaced " + counts : japanese + "置き換えました").c_str())
                   .c_str());
    asked = false;
    return true;
  }
  const int answer =
      AskOnTerminal(AddEnglish() ? "replace " + counts + "?" : japanese + "置き換えますか?");
  asked = answer >= 0;
  if (answer == 0)
    Complain(
        (std::wstring(FileNameOf(item.path)) + InLanguage(L" left out", L" は送りませんでした"))
            .c_str());
  return answer != 0;
}

std::wstring Check(const Arguments& a) {
  if (a.all && (a.haveKind || a.haveAs))
    return InLanguage(L"put --all takes no --kind, no --as",
                      L"put --all には --kind も --as も指定できません");
  if (a.all && a.operands.size() != 1)
    return InLanguage(L"put --all takes one DIR", L"put --all には DIR を一つだけ指定してください");
  if (!a.all && a.operands.empty())
    return InLanguage(L"put needs a FILE or --all DIR",
                      L"put には FILE か --all DIR を指定してください");
  if (a.haveAs && a.operands.size() != 1)
    return InLanguage(L"--as is for one FILE", L"--as は FILE が一つのときだけ指定できます");
  UploadKind forced = kUploadFile;
  if (a.haveKind && !KindFromText(a.kind, &forced))
    return InLanguage(L"unknown kind ", L"不明な種類です: ") + a.kind +
           InLanguage(L" (file, bookmark, address or mail)",
                      L" (file、bookmark、address、mail のどれか)");
  return {};
}

// The open dialog's rules for each file: an existing file (with --all a
// folder), its full path into paths. The problem, or empty.
std::wstring ResolvePaths(const Arguments& a, std::vector<std::wstring>* paths) {
  for (const std::wstring& file : a.operands) {
    if (!RepresentablePath(file)) return BackslashProblem(file);
    const std::wstring path = ProgramPath(file.c_str());
    if (path.empty())
      return InLanguage(L"cannot resolve the path ", L"パスを解決できません: ") + file;
    std::wstring reason;
    const PathKind pathKind = KindOfPath(path, &reason);
    if (pathKind == PathKind::Missing) {
      return InLanguage(L"", L"読めません: ") + file + L": " + reason;
    } else if (a.all) {
      if (pathKind != PathKind::Folder)
        return InLanguage(L"not a folder: ", L"フォルダではありません: ") + file;
    } else if (pathKind != PathKind::File) {
      return InLanguage(L"not a file: ", L"ファイルではありません: ") + file;
    }
    if (path.size() >= static_cast<std::size_t>(kPathUnits))
      return InLanguage(L"path too long: ", L"パスが長すぎます: ") + ShownPath(path);
    paths->push_back(path);
  }
  return {};
}

// The files the handset refused, for the list at the end.
std::vector<std::wstring> g_refused;

void OnRestoreNote(const UploadItem& item, RestoreNote what, Message why) {
  const std::wstring name = FileNameOf(item.path);
  if (what == kNoteRefused) {
    g_refused.push_back(name);
    Complain(FromUtf8((ToUtf8(name.c_str()) + ": " + WithMeaning(why)).c_str()).c_str());
  } else if (what == kNoteConverted && !g_quiet) {
    Complain(
        (name + InLanguage(L": UTF-8 text, converted to the handset's Shift-JIS with CR LF",
                           L": UTF-8 のテキストを電話機の Shift-JIS (改行 CR LF) に変換しました"))
            .c_str());
  }
}

// A folder get --all did not make goes up whole only when the user says so.
bool MayRestoreFolder(const Arguments& a, const std::wstring& dir, const UploadList& list) {
  if (IsBackupFolder(dir.c_str())) return true;
  int files = 0;
  UploadItem item;
  list.rewind(list.context);
  while (list.next(list.context, &item)) ++files;
  list.rewind(list.context);
  if (a.yes) return true;
  const std::string question =
      ToUtf8(a.operands[0].c_str()) +
      (AddEnglish()
           ? " was not made by palvo get --all: upload its " + std::to_string(files) + " files?"
           : " は palvo get --all で作ったフォルダではありません: その " + std::to_string(files) +
                 " 個のファイルをアップロードしますか?");
  const int answer = AskOnTerminal(question);
  if (answer < 0)
    Complain((a.operands[0] +
              InLanguage(L" was not made by palvo get --all (it has no palvo-backup.tsv): "
                         L"give --yes to upload its files",
                         L" は palvo get --all で作ったフォルダではありません (palvo-backup.tsv "
                         L"がありません): アップロードするには --yes を指定してください"))
                 .c_str());
  return answer > 0;
}

void Summary(const RestoreCounts& counts) {
  if (!g_refused.empty()) {
    std::wstring names;
    for (const std::wstring& name : g_refused) names += (names.empty() ? L"" : L", ") + name;
    Complain((InLanguage(L"refused by the handset: ", L"電話機が受け付けませんでした: ") + names)
                 .c_str());
  }
  if ((counts.alreadyThere > 0 || counts.refused > 0) && !g_quiet) {
    Complain((InLanguage(L"uploaded ", L"アップロード ") + std::to_wstring(counts.uploaded) +
              InLanguage(L", skipped ", L"、電話機にあるので省略 ") +
              std::to_wstring(counts.alreadyThere) +
              InLanguage(L" already on the handset, refused ", L"、拒否 ") +
              std::to_wstring(counts.refused))
                 .c_str());
  }
}

int Run(const Arguments& a) {
  UploadKind forced = kUploadFile;
  if (a.haveKind) KindFromText(a.kind, &forced);
  std::vector<std::wstring> paths, names;
  if (const std::wstring problem = ResolvePaths(a, &paths); !problem.empty())
    return Failure(problem);
  for (const std::wstring& path : paths)
    names.push_back(a.haveAs ? a.as : std::wstring(FileNameOf(path.c_str())));
  FileList listed;
  for (std::size_t i = 0; !a.all && i < paths.size(); ++i) {
    const UploadKind kind = a.haveKind ? forced : DefaultUploadKind(FileNameOf(paths[i].c_str()));
    if (a.haveAs) {
      // A name of its own belongs to an ordinary file only; others are not
      // stored under a name, and silently dropping it would mislead.
      if (kind != kUploadFile)
        return UsageError(InLanguage(L"--as is for --kind file only",
                                     L"--as は --kind file のときだけ指定できます"),
                          a.command);
      if (a.as.empty())
        return UsageError(InLanguage(L"--as needs a name", L"--as に名前がありません"), a.command);
      if (a.as.size() >= static_cast<std::size_t>(kPathUnits))
        return UsageError(InLanguage(L"--as name too long", L"--as の名前が長すぎます"), a.command);
    }
    listed.items.push_back({kind, paths[i].c_str(), names[i].c_str()});
  }
  static BackupFolder folder;
  UploadList list = {&NextListed, &RewindListed, &listed};
  if (a.all) {
    if (!OpenBackupFolder(&folder, paths[0].c_str()))
      return Failure(InLanguage(L"path too long: ", L"パスが長すぎます: ") + ShownPath(paths[0]));
    list = BackupFolderList(&folder);
    if (!MayRestoreFolder(a, paths[0], list)) return kExitFailed;
  }

  // Working files (converted text, the handset's mails) in a folder of their own.
  std::wstring reason;
  std::wstring scratch = MakeTemporaryFolder(&reason);
  if (scratch.empty())
    return Failure(InLanguage(L"cannot make a temporary folder: ", L"一時フォルダを作れません: ") +
                   reason);
  const std::wstring scratchDir = scratch + L"\\";

  RestoreOptions options;
  options.ask = a.yes ? nullptr : &AskReplace;
  options.emptySetConfirmed = a.yes || StdinIsTerminal();
  options.force = a.force;
  options.scratch = scratchDir.c_str();
  options.note = &OnRestoreNote;
  RestoreCounts counts;
  const Message message = RunUploads(list, options, &counts);
  RemoveTemporaryFolder(scratch, std::wstring());
  Summary(counts);
  return message || counts.declined > 0 || counts.refused > 0 ? kExitFailed : kExitOk;
}

}  // namespace

extern const Command kPutCommand = {
    "put",
    "palvo put [--yes] [--force] [--kind file|bookmark|address|mail] [--as NAME] FILE...\npalvo "
    "put --all [--yes] [--force] DIR",
    "upload local files, or restore a backup",
    "Uploads each FILE, in order, in one connection; every FILE is checked first and nothing is "
    "sent when one fails (the message names the file and its line). A file's kind follows its "
    "name unless --kind says otherwise: bookmark.txt the bookmarks, address.txt the address "
    "book, mailNNN.txt a mail, anything else an ordinary file, stored under its own name (or "
    "NAME, for one FILE) in the category its extension selects. The listing is fetched again "
    "once at the end. Bookmarks and the address book replace the handset's whole set: on a "
    "terminal palvo asks first, with the counts; --yes answers yes; without a terminal it goes "
    "ahead and says what it replaced; a file without entries replaces a set only on a yes or with "
    "--yes. A Ctrl-C while a set goes up waits until it is whole (a second one stops at once). "
    "Mails the handset holds already and ordinary files of the same name, category and size are "
    "not sent again (--force sends such files). A file the handset refuses is named and the "
    "others still go; the exit status is then 1. A bookmark, address or mail file saved as UTF-8 "
    "is converted to the handset's Shift-JIS with CR LF first. With --all, restores a folder "
    "written by get --all (it holds palvo-backup.tsv; another folder is asked about, or needs "
    "--yes): bookmark.txt, address.txt, every mailNNN.txt in number order, then every other "
    "plain file as an ordinary file; hidden files, links, devices, palvo's own files and folders "
    "are never sent.",
    true,
    &AddOptions,
    &Check,
    &Run};
