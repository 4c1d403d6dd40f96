// palvo: the handset's listing, downloads and uploads from a terminal, over
// the same core and operation runner as the window program.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/cli.h"
#include "commands/commands.h"
#include "download/listing.h"
#include "export/export.h"
#include "link/messages.h"
#include "link/pin_store.h"
#include "link/port.h"
#include "link/trace.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// A usage error of a command: the hint names it.
const std::wstring* g_command = nullptr;
int UsageError(const std::wstring& problem) { return ::UsageError(problem, *g_command); }

int Failure(const std::wstring& problem) {
  Complain(problem.c_str());
  return kExitFailed;
}

// --- the listing as the list view holds it ---

int RowCount() { return static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0)); }

// The text of a cell, in text or in the control's own copy; no allocation.
const WCHAR* CellText(int row, int column, WCHAR (&text)[kPathUnits], int* icon = nullptr) {
  text[0] = 0;
  LVITEMW item = {};
  item.mask = LVIF_TEXT | (icon ? LVIF_IMAGE : 0u);
  item.iItem = row;
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = kPathUnits;
  SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  text[kPathUnits - 1] = 0;
  if (icon) *icon = item.iImage;
  // The control may answer with a pointer to its own copy of the text.
  return item.pszText ? item.pszText : text;
}

void SelectRow(int row) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED;
  item.state = LVIS_SELECTED;
  SendMessageW(g_listView, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
               reinterpret_cast<LPARAM>(&item));
}

// Row by row, straight from the list view: a listing of any length costs no
// memory of its own beyond one line.
void PrintListing(bool tsv, bool header) {
  const int rows = RowCount();
  WCHAR name[kPathUnits], size[kPathUnits], date[kPathUnits], exact[kPathUnits];
  std::string line;
  if (tsv) {
    // Today's four columns first, in their order: scripts count on them.
    if (header) WriteText(stdout, "icon\tname\tsize\tdate\tbytes\n");
    for (int i = 0; i < rows; ++i) {
      int icon = 0;
      const WCHAR* n = CellText(i, 0, name, &icon);
      line.clear();
      line += std::to_string(icon);
      line += '\t';
      AppendText(line, n, true);
      line += '\t';
      AppendText(line, CellText(i, 1, size), true);
      line += '\t';
      AppendText(line, CellText(i, 2, date), true);
      line += '\t';
      AppendText(line, CellText(i, kExactSizeColumn, exact), true);
      line += '\n';
      WriteText(stdout, line);
    }
    return;
  }
  const WCHAR* const heading[3] = {L"名前", L"サイズ", L"更新日時"};
  int nameWidth = DisplayWidth(heading[0]), sizeWidth = DisplayWidth(heading[1]);
  int dateWidth = DisplayWidth(heading[2]);
  for (int i = 0; i < rows; ++i) {
    nameWidth = std::max(nameWidth, DisplayWidth(CellText(i, 0, name)));
    sizeWidth = std::max(sizeWidth, DisplayWidth(CellText(i, 1, size)));
    dateWidth = std::max(dateWidth, DisplayWidth(CellText(i, 2, date)));
  }
  // On a terminal the lines fit its width: long names are cut, the size and
  // date columns stay where they are. Never narrower than the heading.
  if (const int columns = TerminalColumns(stdout); columns > 0) {
    const int room = columns - (2 + sizeWidth + 2 + dateWidth);
    nameWidth = std::max(std::min(nameWidth, room), DisplayWidth(heading[0]));
  }
  // Name left, size right-aligned, date left; columns two blanks apart.
  auto print = [&](const WCHAR* n, const WCHAR* s, const WCHAR* d) {
    line.clear();
    const int taken = AppendCut(line, n, nameWidth);
    line.append(static_cast<std::size_t>(nameWidth - taken + 2), ' ');
    line.append(static_cast<std::size_t>(sizeWidth - DisplayWidth(s)), ' ');
    AppendText(line, s, true);
    if (*d) {
      line += "  ";
      AppendText(line, d, true);
    }
    line += '\n';
    WriteText(stdout, line);
  };
  print(heading[0], heading[1], heading[2]);
  for (int i = 0; i < rows; ++i)
    print(CellText(i, 0, name), CellText(i, 1, size), CellText(i, 2, date));
}

// --- commands ---

int ExitFor(Message message) { return message ? kExitFailed : kExitOk; }

int List(const Arguments& a) {
  if (!a.operands.empty()) return UsageError(L"list takes no operands");
  if (a.header && !a.tsv) return UsageError(L"--header goes with --tsv");
  const Message message = GetListingCommand();
  // What arrived before a failure is shown all the same.
  if (!message || RowCount() > 0) PrintListing(a.tsv, a.header);
  return ExitFor(message);
}

bool EndsWithSeparator(const std::wstring& path) {
  if (path.empty()) return false;
#ifdef _WIN32
  return path.back() == L'/' || path.back() == L'\\';
#else
  return path.back() == L'/';
#endif
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
  int status = ExitFor(message);
  if (!message && !CopyToStandardOutput(path)) {
    Complain((L"cannot read the downloaded " + name).c_str());
    status = kExitFailed;
  }
  RemoveTemporaryFolder(folder, path);
  return status;
}

int Get(const Arguments& a) {
  if (a.all && !a.operands.empty()) return UsageError(L"get --all takes no NAME");
  if (!a.all && a.operands.empty()) return UsageError(L"get needs a NAME or --all");
  bool several = a.all || a.operands.size() > 1;
  for (const std::wstring& name : a.operands) several = several || name == L"mail???.txt";
  const bool toStdout = a.haveTo && a.to == L"-";
  if (toStdout && several) return UsageError(L"--to - takes one row, not several or the mail row");

  // Where the save dialog's choice would point: a folder the rows go into
  // under their own names, or one row's whole file path. Checked, and a
  // missing folder made, before the handset is disturbed; nothing is ever
  // written into a folder the user did not name.
  const std::wstring shown = a.haveTo ? a.to : L".";
  const std::wstring destination = ProgramPath(shown.c_str());
  if (destination.empty()) return Failure(L"cannot resolve the path " + shown);
  bool intoFolder = false;
  if (!toStdout) {
    const PathKind kind = KindOfPath(destination);
    intoFolder = kind == PathKind::Folder || several || EndsWithSeparator(shown);
    if (intoFolder && kind != PathKind::Folder) {
      if (kind != PathKind::Missing) return Failure(L"not a folder: " + shown);
      const DWORD why = MakeDestinationFolder(destination.c_str());
      if (why != ERROR_SUCCESS) return Failure(FolderProblem(shown, destination, why));
    }
    const std::wstring folder = intoFolder ? destination : FolderOf(destination);
    std::wstring reason;
    const PathKind folderKind = KindOfPath(folder, &reason);
    if (folderKind == PathKind::Missing)
      return Failure(L"no such folder for " + shown + L": " + ShownPath(folder) + L": " + reason);
    if (folderKind != PathKind::Folder) return Failure(L"not a folder: " + ShownPath(folder));
    reason = WhyNotWritable(folder);
    if (!reason.empty()) return Failure(L"cannot write in " + ShownPath(folder) + L": " + reason);
  }

  const Message listing = GetListingCommand();
  if (listing) return kExitFailed;

  const int rows = RowCount();
  if (a.all) {
    for (int i = 0; i < rows; ++i) SelectRow(i);
  } else {
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
    // The handset was asked: not a usage error, a failure.
    if (!unmatched.empty()) return Failure(L"no such row: " + unmatched);
    for (int i = 0; i < rows; ++i) {
      if (chosen[static_cast<std::size_t>(i)]) SelectRow(i);
    }
  }

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
  return ExitFor(message);
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

int Put(const Arguments& a) {
  if (a.all && (a.haveKind || a.haveAs)) return UsageError(L"put --all takes no --kind, no --as");
  if (a.all && a.operands.size() != 1) return UsageError(L"put --all takes one DIR");
  if (!a.all && a.operands.empty()) return UsageError(L"put needs a FILE or --all DIR");
  if (a.haveAs && a.operands.size() != 1) return UsageError(L"--as is for one FILE");
  UploadKind forced = kUploadFile;
  if (a.haveKind && !KindFromText(a.kind, &forced))
    return UsageError(L"unknown kind " + a.kind + L" (file, bookmark, address or mail)");

  // The open dialog's rules for each file: an existing file, its full path.
  std::vector<std::wstring> paths, names;
  for (const std::wstring& file : a.operands) {
    const std::wstring path = ProgramPath(file.c_str());
    if (path.empty()) return Failure(L"cannot resolve the path " + file);
    std::wstring reason;
    const PathKind pathKind = KindOfPath(path, &reason);
    if (pathKind == PathKind::Missing) {
      return Failure(file + L": " + reason);
    } else if (a.all) {
      if (pathKind != PathKind::Folder) return Failure(L"not a folder: " + file);
    } else if (pathKind != PathKind::File) {
      return Failure(L"not a file: " + file);
    }
    if (path.size() >= static_cast<std::size_t>(kPathUnits))
      return Failure(L"path too long: " + ShownPath(path));
    paths.push_back(path);
    names.push_back(a.haveAs ? a.as : std::wstring(FileNameOf(path.c_str())));
  }
  FileList listed;
  for (std::size_t i = 0; !a.all && i < paths.size(); ++i) {
    const UploadKind kind = a.haveKind ? forced : DefaultUploadKind(FileNameOf(paths[i].c_str()));
    if (a.haveAs) {
      // A name of its own belongs to an ordinary file only; others are not
      // stored under a name, and silently dropping it would mislead.
      if (kind != kUploadFile) return UsageError(L"--as is for --kind file only");
      if (a.as.empty()) return UsageError(L"--as needs a name");
      if (a.as.size() >= static_cast<std::size_t>(kPathUnits))
        return UsageError(L"--as name too long");
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

// --- the PIN ---
int Pin(const Arguments& a) {
  if (!a.operands.empty()) return UsageError(L"pin takes no operands");
  if (a.forget) {
    const int forgotten = ForgetStoredPins();
    if (!g_quiet) Complain(forgotten ? L"the kept PIN is forgotten" : L"no PIN was kept");
    return kExitOk;
  }
  if (StorePinCommand()) return kExitFailed;
  if (g_driverKeyPath[0] == 0) {
    return Failure(L"the handset accepted the PIN, but it cannot be kept for the port " + a.port +
                   L": no handset driver in the registry publishes it (give the PIN with "
                   L"--pin-file or PALVO_PIN_FILE instead)");
  }
  if (!g_quiet) Complain(L"the PIN is kept");
  return kExitOk;
}

// --- export (export/): a backup's files in today's formats ---
int Export(const Arguments& a) {
  if (a.operands.size() != 1 || !a.haveTo) return UsageError(L"export takes DIR --to OUT");
  const std::wstring from = ProgramPath(a.operands[0].c_str()), to = ProgramPath(a.to.c_str());
  if (from.empty() || to.empty()) return Failure(L"cannot resolve the paths");
  if (KindOfPath(from) != PathKind::Folder) return Failure(L"not a folder: " + a.operands[0]);
  static ExportReport report;
  if (const WCHAR* why = ExportBackup(from.c_str(), to.c_str(), &report)) return Failure(why);
  WriteText(stdout, ExportSummaryText(report));
  return report.problems.count() > 0 ? kExitFailed : kExitOk;
}

int RunCommand(const std::vector<std::string>& args);

// Every command's output reaches standard output whole, or the run fails.
int Run(const std::vector<std::string>& args) {
  int status = RunCommand(args);
  if (const int error = FinishStandardOutput()) {
    Complain((L"cannot write to standard output: " + FromUtf8(std::strerror(error))).c_str());
    status = kExitFailed;
  }
  return status;
}

int RunCommand(const std::vector<std::string>& args) {
  static Arguments a;
  if (const int status = ParseArguments(args, &a); status >= 0) return status;
  g_command = &a.command;
  if (a.command == L"export") return Export(a);  // local files only: no handset state
  int (*command)(const Arguments&) = nullptr;
  if (a.command == L"list") {
    command = List;
  } else if (a.command == L"get") {
    command = Get;
  } else if (a.command == L"put") {
    command = Put;
  } else {
    command = Pin;
  }

  InitProcessState();
  DeriveInstallationKey();
  g_mainWindow = nullptr;
  g_listView = CreateListingView();
  if (!g_listView) return Failure(L"cannot make the list view");
  g_quiet = a.quiet;
  g_verbose = a.verbose;
  FollowSteps();
  if (a.havePort) {
    if (a.port.empty() || a.port.size() >= static_cast<std::size_t>(kPathUnits))
      return UsageError(L"--port needs a port name");
    std::wstring port = a.port;
#ifdef _WIN32
    // COM10 and up open only as device paths; "\\.\" serves every number.
    if (port.size() > 3 && _wcsnicmp(port.c_str(), L"COM", 3) == 0 &&
        port.find_first_not_of(L"0123456789", 3) == std::wstring::npos)
      port = L"\\\\.\\" + port;
#endif
    std::wcsncpy(g_givenPort, port.c_str(), kPathUnits - 1);
  }
  std::wstring pinFile = a.pinFile;
  if (!a.havePinFile) {
    const char* env = std::getenv("PALVO_PIN_FILE");
    if (env && *env) pinFile = FromUtf8(env);
  }
  if (!pinFile.empty() && !(a.command == L"pin" && a.forget)) {
    DWORD pin = 0;
    std::wstring why;
    if (!ReadPinFile(pinFile, &pin, &why)) return Failure(L"PIN file " + pinFile + L": " + why);
    GivePin(pin, pinFile);
    g_pinSource = PinSource::kGiven;
  }
  std::wstring tracePath;
  if (a.haveTrace) {
    if (a.trace.empty()) return UsageError(L"--trace needs a file name");
    tracePath = ProgramPath(a.trace.c_str());
    const TraceLevel level = a.tracePrivate ? TraceLevel::kPrivate : TraceLevel::kRedacted;
    if (!StartTrace(tracePath.c_str(), level, SystemText().c_str())) {
      const DWORD error = GetLastError();
      return Failure(L"cannot make the trace " + a.trace + L": " +
                     (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                          ? std::wstring(L"it exists (a trace goes only into a new file)")
                          : LastSystemReason()));
    }
  }
  CatchStopSignals();
  int status = command(a);
  EndProgressLine();
  if (a.haveTrace) {
    StopTrace();
    if (a.verbose) {
      WriteText(stderr, "trace: " + ToUtf8(ShownPath(tracePath).c_str()) + "\n");
      WriteText(stderr, a.tracePrivate
                            ? "attach it to a problem report: it holds no PIN and nothing that "
                              "files, mails, bookmarks or addresses hold\n"
                            : "attach it to a problem report: it holds no PIN (--trace-private "
                              "also leaves out what files, mails, bookmarks and addresses hold)\n");
    }
  }
  // Stopped: the transfer ended at its next piece or item, the handset heard
  // goodbye; the status tells a script which signal it was.
  if (g_stopRequest) status = kExitSignalBase + g_stopRequest;
  return status;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  GuardStandardStreams();
  // The same bytes as natively: lines end in LF, also in a pipe or a file.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // The parser reads UTF-8, as natively.
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(ToUtf8(argv[i]));
  return Run(args);
}
#else
int main(int argc, char** argv) {
  GuardStandardStreams();
  return Run(std::vector<std::string>(argv, argv + argc));
}
#endif
