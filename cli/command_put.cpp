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
  sub->add_flag("--yes", a->yes, "replace the handset's bookmarks or address book without asking");
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
  const std::string what = item.kind == kUploadBookmarks ? "bookmarks" : "addresses";
  const std::string counts = "the handset's " + std::to_string(handsetCount) + " " + what +
                             " with " + std::to_string(fileCount);
  if (done) {
    if (!asked && !g_quiet) Complain((L"replaced " + FromUtf8(counts.c_str())).c_str());
    asked = false;
    return true;
  }
  const int answer = AskOnTerminal("replace " + counts + "?");
  asked = answer >= 0;
  if (answer == 0) Complain((std::wstring(FileNameOf(item.path)) + L" left out").c_str());
  return answer != 0;
}

std::wstring Check(const Arguments& a) {
  if (a.all && (a.haveKind || a.haveAs)) return L"put --all takes no --kind, no --as";
  if (a.all && a.operands.size() != 1) return L"put --all takes one DIR";
  if (!a.all && a.operands.empty()) return L"put needs a FILE or --all DIR";
  if (a.haveAs && a.operands.size() != 1) return L"--as is for one FILE";
  UploadKind forced = kUploadFile;
  if (a.haveKind && !KindFromText(a.kind, &forced))
    return L"unknown kind " + a.kind + L" (file, bookmark, address or mail)";
  return {};
}

// The open dialog's rules for each file: an existing file (with --all a
// folder), its full path into paths. The problem, or empty.
std::wstring ResolvePaths(const Arguments& a, std::vector<std::wstring>* paths) {
  for (const std::wstring& file : a.operands) {
    const std::wstring path = ProgramPath(file.c_str());
    if (path.empty()) return L"cannot resolve the path " + file;
    std::wstring reason;
    const PathKind pathKind = KindOfPath(path, &reason);
    if (pathKind == PathKind::Missing) {
      return file + L": " + reason;
    } else if (a.all) {
      if (pathKind != PathKind::Folder) return L"not a folder: " + file;
    } else if (pathKind != PathKind::File) {
      return L"not a file: " + file;
    }
    if (path.size() >= static_cast<std::size_t>(kPathUnits))
      return L"path too long: " + ShownPath(path);
    paths->push_back(path);
  }
  return {};
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
      if (kind != kUploadFile) return UsageError(L"--as is for --kind file only", a.command);
      if (a.as.empty()) return UsageError(L"--as needs a name", a.command);
      if (a.as.size() >= static_cast<std::size_t>(kPathUnits))
        return UsageError(L"--as name too long", a.command);
    }
    listed.items.push_back({kind, paths[i].c_str(), names[i].c_str()});
  }
  static BackupFolder folder;
  UploadList list = {&NextListed, &RewindListed, &listed};
  if (a.all) {
    if (!OpenBackupFolder(&folder, paths[0].c_str()))
      return Failure(L"path too long: " + ShownPath(paths[0]));
    list = BackupFolderList(&folder);
  }

  int declined = 0;
  const Message message = RunUploads(list, a.yes ? nullptr : &AskReplace, &declined);
  return message || declined > 0 ? kExitFailed : kExitOk;
}

}  // namespace

extern const Command kPutCommand = {
    "put",
    "palvo put [--yes] [--kind file|bookmark|address|mail] [--as NAME] FILE...\npalvo put --all "
    "[--yes] DIR",
    "upload local files, or restore a backup",
    "Uploads each FILE, in order, in one connection; every FILE is checked first and nothing is "
    "sent when one fails (the message names the file and its line). A file's kind follows its "
    "name unless --kind says otherwise: bookmark.txt the bookmarks, address.txt the address "
    "book, mailNNN.txt a mail, anything else an ordinary file, stored under its own name (or "
    "NAME, for one FILE) in the category its extension selects. The listing is fetched again "
    "once at the end. Bookmarks and the address book replace the handset's whole set: on a "
    "terminal palvo asks first, with the counts; --yes answers yes; without a terminal it goes "
    "ahead and says what it replaced. With --all, restores a folder written by get --all: "
    "bookmark.txt, address.txt, every mailNNN.txt in number order, then every other file as an "
    "ordinary file.",
    true,
    &AddOptions,
    &Check,
    &Run};
