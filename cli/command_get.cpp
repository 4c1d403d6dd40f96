// palvo get: rows of the listing downloaded into files, a folder, or
// standard output.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/command.h"
#include "commands/commands.h"
#include "link/messages.h"

namespace {

void AddOptions(CLI::App* sub, Arguments* a) {
  sub->add_flag("--all", a->all, "every row of the listing, into DIR");
  sub->add_option("--to", a->given.to,
                  "where the rows go: a file for one row (- for standard output), else a folder")
      ->type_name("PATH");
  sub->add_option("NAME", a->given.operands);
}

// Several rows, or the mail row: each goes into a folder under its own name.
bool Several(const Arguments& a) {
  bool several = a.all || a.operands.size() > 1;
  for (const std::wstring& name : a.operands) several = several || name == L"mail???.txt";
  return several;
}

bool ToStandardOutput(const Arguments& a) { return a.haveTo && a.to == L"-"; }

std::wstring Check(const Arguments& a) {
  if (a.all && !a.operands.empty()) return L"get --all takes no NAME";
  if (!a.all && a.operands.empty()) return L"get needs a NAME or --all";
  if (ToStandardOutput(a) && Several(a))
    return L"--to - takes one row, not several or the mail row";
  return {};
}

// Why a folder could not be made, for the user.
std::wstring FolderProblem(const std::wstring& shown, const std::wstring& path, DWORD why) {
  std::wstring reason;
  if (why == ERROR_PATH_NOT_FOUND) {
    reason = L"the folder it would be in does not exist (" + ShownPath(FolderOf(path)) + L")";
  } else if (why == ERROR_ALREADY_EXISTS) {
    reason = L"a file of that name is there";
  } else if (why == ERROR_ACCESS_DENIED) {
    reason = L"permission denied";
  } else {
    reason = L"error " + std::to_wstring(why);
  }
  return L"cannot make the folder " + shown + L": " + reason;
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
    if (kind != PathKind::Missing) return L"not a folder: " + shown;
    const DWORD why = MakeDestinationFolder(destination.c_str());
    if (why != ERROR_SUCCESS) return FolderProblem(shown, destination, why);
  }
  const std::wstring folder = *intoFolder ? destination : FolderOf(destination);
  std::wstring reason;
  const PathKind folderKind = KindOfPath(folder, &reason);
  if (folderKind == PathKind::Missing)
    return L"no such folder for " + shown + L": " + ShownPath(folder) + L": " + reason;
  if (folderKind != PathKind::Folder) return L"not a folder: " + ShownPath(folder);
  reason = WhyNotWritable(folder);
  if (!reason.empty()) return L"cannot write in " + ShownPath(folder) + L": " + reason;
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

// The one row of get --to -, out on standard output: downloaded into a
// folder of its own first (the core writes files, and part files beside
// them), then copied.
int GetToStandardOutput(const std::wstring& name) {
  std::wstring reason;
  const std::wstring folder = MakeTemporaryFolder(&reason);
  if (folder.empty()) return Failure(L"cannot make a temporary folder: " + reason);
  const std::wstring path = folder + L"\\" + L"row";
  StoreDownloadDestination(path.c_str(), false);
  const Message message = RunDownload();
  int status = message ? kExitFailed : kExitOk;
  if (!message && !CopyToStandardOutput(path)) {
    Complain((L"cannot read the downloaded " + name).c_str());
    status = kExitFailed;
  }
  RemoveTemporaryFolder(folder, path);
  return status;
}

int Run(const Arguments& a) {
  const bool toStdout = ToStandardOutput(a);
  const std::wstring shown = a.haveTo ? a.to : L".";
  const std::wstring destination = ProgramPath(shown.c_str());
  if (destination.empty()) return Failure(L"cannot resolve the path " + shown);
  bool intoFolder = false;
  if (!toStdout) {
    const std::wstring problem = PrepareDestination(a, shown, destination, &intoFolder);
    if (!problem.empty()) return Failure(problem);
  }

  if (GetListingCommand()) return kExitFailed;
  // The handset was asked: a name it does not have is not a usage error.
  if (const std::wstring unmatched = SelectNamedRows(a); !unmatched.empty())
    return Failure(L"no such row: " + unmatched);

  WCHAR proposed[kPathUnits];
  bool severalRows = false;
  if (!ProposeDownloadName(proposed, &severalRows)) return Failure(L"nothing to download");
  // One name that matched several rows: they cannot all be one file.
  if (severalRows && !intoFolder) return Failure(L"several rows are called so; give --to DIR");
  if (toStdout) return GetToStandardOutput(a.operands[0]);
  std::wstring path = destination;
  if (intoFolder) {
    // Each row into the folder under its own name (or the name it can have
    // there), as the window does with several rows.
    if (path.back() != L'\\') path += L'\\';
    path += proposed;
  }
  if (path.size() >= static_cast<std::size_t>(kPathUnits))
    return Failure(L"path too long: " + ShownPath(path));
  StoreDownloadDestination(path.c_str(), intoFolder);
  const Message message = RunDownload();
  ReportRenamedRows();
  return message ? kExitFailed : kExitOk;
}

}  // namespace

extern const Command kGetCommand = {
    "get",
    "palvo get [--to PATH] NAME...\npalvo get --all [--to DIR]",
    "download rows of the listing",
    "Downloads the rows whose name is NAME, exactly as the listing shows it (quote mail???.txt "
    "for the shell). One row is saved as PATH, or under its own name when PATH is a folder or "
    "ends with \"/\"; with --to - one row's file goes to standard output. Several rows, or the "
    "mail row, are saved each under its own name in the folder PATH (made when missing, one "
    "level). Without --to: the current folder. The mail row writes mail000.txt onwards, and "
    "once all of it arrived the mail???.txt files already in that folder give way to the new "
    "ones. A file arrives under a part name (.palvo-NAME.part) and replaces an older one only "
    "when whole; it keeps the handset's date. A row whose name cannot be a file name here (a "
    "slash, a control character; on Windows also < > : \" | ? * and device names), or that "
    "would take the place of bookmark.txt, address.txt or a mail file, is saved under another "
    "name; the rows saved so are listed at the end. With --all every row goes into DIR: a full "
    "backup.",
    true,
    &AddOptions,
    &Check,
    &Run};
