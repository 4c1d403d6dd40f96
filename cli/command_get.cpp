// palvo get: rows of the listing downloaded into files, a folder, or
// standard output.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/command.h"
#include "commands/commands.h"
#include "link/messages.h"
#include "platform/backup_names.h"

namespace {

void AddOptions(CLI::App* sub, Arguments* a) {
  sub->add_flag("--all", a->all, "every row of the listing, into DIR");
  sub->add_flag("--refetch", a->refetch, "with --all: transfer every row again, changed or not");
  sub->add_option("--to", a->given.to,
                  "where the rows go: a file for one row (- for standard output), else a folder")
      ->type_name("PATH");
  sub->add_option("NAME", a->given.operands);
}

// Several rows, or the mail row: each goes into a folder under its own name.
bool Several(const Arguments& a) {
  bool several = a.all || a.operands.size() > 1;
  for (const std::wstring& name : a.operands) several = several || name == kMailRowName;
  return several;
}

bool ToStandardOutput(const Arguments& a) { return a.haveTo && a.to == L"-"; }

std::wstring Check(const Arguments& a) {
  if (a.all && !a.operands.empty())
    return InLanguage(L"get --all takes no NAME", L"get --all には NAME を指定できません");
  if (!a.all && a.operands.empty())
    return InLanguage(L"get needs a NAME or --all", L"get には NAME か --all を指定してください");
  if (a.refetch && !a.all)
    return InLanguage(L"--refetch goes with --all", L"--refetch は --all と一緒に指定してください");
  if (ToStandardOutput(a) && Several(a))
    return InLanguage(L"--to - takes one row, not several or the mail row",
                      L"--to - で取得できるのは一行だけです (複数の行やメールの行はできません)");
  return {};
}

// Why a folder could not be made, for the user.
std::wstring FolderProblem(const std::wstring& shown, const std::wstring& path, DWORD why) {
  std::wstring reason;
  if (why == ERROR_PATH_NOT_FOUND) {
    reason = InLanguage(L"the folder it would be in does not exist (",
                        L"それを入れるフォルダがありません (") +
             ShownPath(FolderOf(path)) + L")";
  } else if (why == ERROR_ALREADY_EXISTS) {
    // The file in the way: the path itself or a folder above it.
    std::wstring inWay = path;
    while (KindOfPath(inWay) == PathKind::Missing && FolderOf(inWay) != inWay)
      inWay = FolderOf(inWay);
    reason = inWay == path
                 ? InLanguage(L"a file of that name is there", L"同じ名前のファイルがあります")
                 : ShownPath(inWay) +
                       InLanguage(L" is a file, not a folder", L" はフォルダではなくファイルです");
  } else if (why == ERROR_ACCESS_DENIED) {
    reason = InLanguage(L"permission denied", L"アクセスが拒否されました");
  } else {
    reason = InLanguage(L"error ", L"エラー ") + std::to_wstring(why);
  }
  return InLanguage(L"cannot make the folder ", L"フォルダを作れません: ") + shown + L": " + reason;
}

// Where the save dialog's choice would point: a folder the rows go into
// under their own names, or one row's whole file path. Checked, and a
// missing folder made, before the handset is disturbed; nothing is ever
// written into a folder the user did not name. The problem, or empty.
std::wstring PrepareDestination(const Arguments& a, const std::wstring& shown,
                                const std::wstring& destination, bool* intoFolder) {
  const PathKind kind = KindOfPath(destination);
  *intoFolder = kind == PathKind::Folder || Several(a) || EndsWithSeparator(shown);
  if (*intoFolder && kind != PathKind::Folder) {
    if (kind != PathKind::Missing)
      return InLanguage(L"not a folder: ", L"フォルダではありません: ") + shown;
    const DWORD why = MakeDestinationFolder(destination.c_str());
    if (why != ERROR_SUCCESS) return FolderProblem(shown, destination, why);
  }
  // A device (/dev/null, /dev/full) is written itself, not a file beside it.
  if (!*intoFolder && kind == PathKind::Other) return {};
  const std::wstring folder = *intoFolder ? destination : FolderOf(destination);
  std::wstring reason;
  const PathKind folderKind = KindOfPath(folder, &reason);
  if (folderKind == PathKind::Missing)
    return InLanguage(L"no such folder for ", L"入れるフォルダがありません: ") + shown + L": " +
           ShownPath(folder) + L": " + reason;
  if (folderKind != PathKind::Folder)
    return InLanguage(L"not a folder: ", L"フォルダではありません: ") + ShownPath(folder);
  reason = WhyNotWritable(folder);
  if (!reason.empty())
    return InLanguage(L"cannot write in ", L"書き込めません: ") + ShownPath(folder) + L": " +
           reason;
  return {};
}

// Selects the rows the command names (every row with --all). The names that
// match no row, or empty.
std::wstring SelectNamedRows(const Arguments& a) {
  const int rows = RowCount();
  if (a.all) {
    for (int i = 0; i < rows; ++i) SelectRow(i);
    return {};
  }
  std::wstring unmatched;
  std::vector<bool> chosen(static_cast<std::size_t>(rows), false);
  for (const std::wstring& name : a.operands) {
    bool found = false;
    for (int i = 0; i < rows; ++i) {
      WCHAR text[kPathUnits];
      if (name == CellText(i, 0, text)) found = chosen[static_cast<std::size_t>(i)] = true;
    }
    if (!found) unmatched += (unmatched.empty() ? L"" : L", ") + name;
  }
  if (!unmatched.empty()) return unmatched;
  for (int i = 0; i < rows; ++i) {
    if (chosen[static_cast<std::size_t>(i)]) SelectRow(i);
  }
  return {};
}

// The rows a folder download saved under other names, or not at all.
void ReportRenamedRows() {
  bool notSaved = false;
  const WCHAR* lines = RenamedRowsText(&notSaved);
  if (!lines) return;
  EndProgressLine();
  // With a row not saved, the operation's message already heads the list.
  if (!notSaved) Complain(MSG_SAVED_AS);
  WriteText(stderr, ToUtf8(lines));  // its handset text is made safe already
}

// The end of every get (unless -q): what it did, in one line on stderr.
void ReportSummary() {
  if (g_quiet) return;
  const DownloadSummary& s = LastDownloadSummary();
  EndProgressLine();
  std::wstring line;
  if (s.interrupted) {
    line =
        InLanguage(L"interrupted after ", L"保存 ") + std::to_wstring(s.saved) +
        InLanguage(s.saved == 1 ? L" row saved; run the same command again to finish the backup"
                                : L" rows saved; run the same command again to finish the backup",
                   L" 行で中断しました。同じコマンドをもう一度実行すると続きから完了します");
  } else {
    // Japanese puts the word before each count: "保存 3 行、…".
    auto count = [](const WCHAR* english, const WCHAR* japanese, int n) {
      return AddEnglish() ? std::to_wstring(n) + english : japanese + std::to_wstring(n) + L" 行";
    };
    line = count(s.saved == 1 ? L" row saved, " : L" rows saved, ", L"保存 ", s.saved) +
           count(L" kept unchanged, ", L"、変更なし ", s.unchanged) +
           count(L" renamed, ", L"、改名 ", s.renamed) +
           count(L" not saved, ", L"、保存できず ", s.notSaved) + InLanguage(L"", L"、") +
           std::to_wstring(s.bytes) +
           InLanguage(s.bytes == 1 ? L" byte in " : L" bytes in ", L" バイト、") +
           std::to_wstring(s.milliseconds / 1000) + L"." +
           std::to_wstring(s.milliseconds % 1000 / 100) + InLanguage(L" s", L" 秒");
  }
  if (s.atticMoves > 0)
    line += InLanguage(L"; ", L"。以前のファイル ") + std::to_wstring(s.atticMoves) +
            InLanguage(s.atticMoves == 1 ? L" earlier file moved to " : L" earlier files moved to ",
                       L" 個を移しました: ") +
            ShownPath(s.attic);
  Complain(line.c_str());
}

// What get decides once the listing is there, inside the one connection.
struct Choice {
  const Arguments* a;
  bool toStdout, intoFolder;
  std::wstring destination, temporary, temporaryPath;
  int status;  // set when the choice ended the command
};

int Stop(Choice& c, const std::wstring& problem) {
  c.status = Failure(problem);
  return 1;
}

// Runs between the listing and the download, in the same connection: the
// rows selected and the destination stored, as the save dialog would.
int Choose(void* context) {
  Choice& c = *static_cast<Choice*>(context);
  // The handset was asked: a name it does not have is not a usage error.
  if (const std::wstring unmatched = SelectNamedRows(*c.a); !unmatched.empty())
    return Stop(c, InLanguage(L"no such row: ", L"その名前の行はありません: ") + unmatched);
  WCHAR proposed[kPathUnits];
  bool severalRows = false;
  if (!ProposeDownloadName(proposed, &severalRows))
    return Stop(c, InLanguage(L"nothing to download", L"ダウンロードするものがありません"));
  // One name that matched several rows: they cannot all be one file.
  if (severalRows && !c.intoFolder)
    return Stop(c, InLanguage(L"several rows are called so; give --to DIR",
                              L"その名前の行が複数あります: --to DIR を指定してください"));
  if (c.toStdout) {
    // The one row of get --to -: downloaded into a folder of its own first
    // (the core writes files, and part files beside them), then copied.
    std::wstring reason;
    c.temporary = MakeTemporaryFolder(&reason);
    if (c.temporary.empty())
      return Stop(
          c,
          InLanguage(L"cannot make a temporary folder: ", L"一時フォルダを作れません: ") + reason);
    c.temporaryPath = c.temporary + L"\\" + L"row";
    StoreDownloadDestination(c.temporaryPath.c_str(), false);
    return 0;
  }
  std::wstring path = c.destination;
  if (c.intoFolder) {
    // Each row into the folder under its own name (or the name it can have
    // there), as the window does with several rows.
    if (path.back() != L'\\') path += L'\\';
    path += proposed;
  }
  if (path.size() >= static_cast<std::size_t>(kPathUnits))
    return Stop(c, InLanguage(L"path too long: ", L"パスが長すぎます: ") + ShownPath(path));
  StoreDownloadDestination(path.c_str(), c.intoFolder);
  return 0;
}

int Run(const Arguments& a) {
  const bool toStdout = ToStandardOutput(a);
  const std::wstring shown = a.haveTo ? a.to : L".";
  if (!toStdout && !RepresentablePath(shown)) return Failure(BackslashProblem(shown));
  const std::wstring destination = ProgramPath(shown.c_str());
  if (destination.empty())
    return Failure(InLanguage(L"cannot resolve the path ", L"パスを解決できません: ") + shown);
  ShowPathsAs(destination, shown);
  bool intoFolder = false;
  if (!toStdout) {
    const std::wstring problem = PrepareDestination(a, shown, destination, &intoFolder);
    if (!problem.empty()) return Failure(problem);
  }

  // The listing and the rows in one connection.
  g_backupOptions = {a.all, a.refetch};
  Choice choice = {&a, toStdout, intoFolder, destination, L"", L"", -1};
  const Message message = RunListingAndDownload(&Choose, &choice);
  if (choice.status >= 0 || (toStdout && !message)) {
    int status = choice.status;
    if (status < 0 && !CopyToStandardOutput(choice.temporaryPath)) {
      Complain(
          (InLanguage(L"cannot read the downloaded ", L"ダウンロードしたファイルが読めません: ") +
           a.operands[0])
              .c_str());
      status = kExitFailed;
    }
    if (!choice.temporary.empty()) RemoveTemporaryFolder(choice.temporary, choice.temporaryPath);
    return status < 0 ? kExitOk : status;
  }
  if (!choice.temporary.empty()) RemoveTemporaryFolder(choice.temporary, choice.temporaryPath);
  if (!g_connected || toStdout) return kExitFailed;  // said already
  ReportRenamedRows();
  ReportSummary();
  return message ? kExitFailed : kExitOk;
}

}  // namespace

extern const Command kGetCommand = {
    "get",
    "palvo get [--to PATH | -] NAME...\npalvo get --all [--refetch] [--to DIR]",
    "download rows of the listing",
    "Downloads the rows whose name is NAME, exactly as the listing shows it (quote mail???.txt "
    "for the shell). One row is saved as PATH, or under its own name when PATH is a folder or "
    "ends with \"/\"; with --to - one row's file goes to standard output. Several rows, or the "
    "mail row, are saved each under its own name in the folder PATH (made when missing, with "
    "the folders above it). Without --to: the current folder. The mail row writes mail000.txt "
    "onwards, and "
    "once all of it arrived the mail???.txt files already in that folder give way to the new "
    "ones. A file arrives under a part name (.palvo-NAME.part) and replaces an older one only "
    "when whole; it keeps the handset's date. A row whose name cannot be a file name here (a "
    "slash, a control character; on Windows also < > : \" | ? * and device names), or that "
    "would take the place of bookmark.txt, address.txt or a mail file, is saved under another "
    "name; the rows saved so are listed at the end. With --all every row goes into DIR: a full "
    "backup, recorded in DIR/palvo-backup.tsv (each file's handset name, category, size, date "
    "and SHA-256). Run again into the same DIR it transfers only the files that changed (all of "
    "them with --refetch), and finishes a run that was interrupted. An earlier file that would "
    "be replaced with other bytes or removed (a row gone from the handset, an earlier mail) is "
    "moved to DIR/palvo-attic/DATE-TIME/ first. Ends with a summary line on standard error.",
    true,
    &AddOptions,
    &Check,
    &Run};
