// palvo: the handset's listing, downloads and uploads from a terminal, over
// the same core and operation runner as the window program.
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "commands/commands.h"
#include "export/export.h"
#include "link/messages.h"
#include "link/pin_store.h"
#include "palvo_version.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char kUsage[] =
    "usage: palvo list [--tsv]\n"
    "       palvo get [--to PATH] NAME...\n"
    "       palvo get --all [--to DIR]\n"
    "       palvo put [--yes] [--kind file|bookmark|address|mail] [--as NAME] FILE...\n"
    "       palvo put --all [--yes] DIR\n"
    "       palvo export DIR --to OUT\n"
    "       palvo --help | --version\n";

const char kHelp[] =
    "palvo: the handset's files from the command line.\n"
    "\n"
    "palvo list [--tsv]\n"
    "    Fetches the handset's listing and prints it: the rows bookmark.txt,\n"
    "    address.txt and mail???.txt first, then the files, newest first.\n"
    "    --tsv  one line per row, no header: icon, name, size and date separated\n"
    "           by TABs, in UTF-8. Icons: 0 image, 1 music, 2 net, 3 card,\n"
    "           4 other, 5 bookmarks, 6 address book, 7 mail.\n"
    "\n"
    "palvo get [--to PATH] NAME...\n"
    "    Downloads the rows whose name is NAME, exactly as the listing shows it\n"
    "    (quote mail???.txt for the shell). One row is saved as PATH, or under\n"
    "    its own name when PATH is a folder or ends with \"/\". Several rows, or\n"
    "    the mail row, are saved each under its own name in the folder PATH\n"
    "    (made when missing, one level). Without --to: the current folder. The\n"
    "    mail row writes mail000.txt onwards, and once all of it arrived the\n"
    "    mail???.txt files already in that folder give way to the new ones.\n"
    "    A file arrives under a part name (.palvo-NAME.part) and replaces an\n"
    "    older one only when whole; it keeps the handset's date. A row whose\n"
    "    name cannot be a file name here (a slash, a control character; on\n"
    "    Windows also < > : \" | ? * and device names), or that would take the\n"
    "    place of bookmark.txt, address.txt or a mail file, is saved under\n"
    "    another name; the rows saved so are listed at the end.\n"
    "palvo get --all [--to DIR]\n"
    "    Downloads every row into DIR (made when missing; default: the current\n"
    "    folder): a full backup.\n"
    "\n"
    "palvo put [--yes] [--kind file|bookmark|address|mail] [--as NAME] FILE...\n"
    "    Uploads each FILE, in order, in one connection; every FILE is checked\n"
    "    first and nothing is sent when one fails. A file's kind follows its\n"
    "    name unless --kind says otherwise: bookmark.txt the bookmarks,\n"
    "    address.txt the address book, mailNNN.txt a mail, anything else an\n"
    "    ordinary file, stored under its own name (or NAME, for one FILE) in the\n"
    "    category its extension selects. The listing is fetched again once at\n"
    "    the end. Bookmarks and the address book replace the handset's whole\n"
    "    set: on a terminal palvo asks first, with the counts; --yes answers\n"
    "    yes; without a terminal it goes ahead and says what it replaced.\n"
    "palvo put --all [--yes] DIR\n"
    "    Restores a folder written by get --all in one connection: bookmark.txt,\n"
    "    address.txt, every mailNNN.txt in number order, then every other file\n"
    "    as an ordinary file.\n"
    "\n"
    "palvo export DIR --to OUT\n"
    "    Writes a backup (a folder written by get --all) in today's formats into\n"
    "    OUT (made when missing), never touching DIR nor the handset:\n"
    "    contacts.vcf (vCard 3.0, UTF-8) from address.txt, bookmarks.html (a\n"
    "    bookmark file browsers import) from bookmark.txt, mail/ with every\n"
    "    mailNNN.txt as UTF-8 text, and every other file copied as it is. Ends\n"
    "    with a summary: what was exported, and each problem with its file and\n"
    "    line; exit status 1 when there was any.\n"
    "\n"
    "palvo --version\n"
    "    Prints the program's version.\n"
    "\n"
    "The handset's driver and port are found through the registry. The PIN is\n"
    "asked for once, on the terminal without echo (or read as a line from\n"
    "standard input), and kept scrambled in the registry.\n"
    "Progress of long transfers is shown on a terminal.\n"
    "\n"
    "Ctrl-C (or SIGTERM, SIGHUP) stops a command at its next piece or item:\n"
    "files being written are removed, the handset is told goodbye; a second\n"
    "Ctrl-C ends at once.\n"
    "\n"
    "Exit status: 0 done; 1 failed (the handset's or the program's message on\n"
    "standard error; nothing when the PIN entry was ended), or a file was not\n"
    "saved or left out; 2 usage error; 130, 143, 129 stopped by Ctrl-C,\n"
    "SIGTERM, SIGHUP.\n";

int UsageError(const std::wstring& problem) {
  Complain(problem.c_str());
  WriteText(stderr, kUsage);
  return kExitUsage;
}

int Failure(const std::wstring& problem) {
  Complain(problem.c_str());
  return kExitFailed;
}

struct Arguments {
  std::wstring command;
  std::vector<std::wstring> operands;
  bool tsv = false, all = false, yes = false, help = false, version = false;
  bool haveTo = false, haveKind = false, haveAs = false;
  std::wstring to, kind, as;
};

// Options may stand anywhere after the command; "--" ends them. A value
// follows its option as the next argument or after "=".
bool Parse(const std::vector<std::wstring>& args, Arguments* a, std::wstring* problem) {
  bool optionsDone = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (optionsDone || arg.size() < 2 || arg[0] != L'-') {
      if (a->command.empty()) {
        a->command = arg;
      } else {
        a->operands.push_back(arg);
      }
      continue;
    }
    if (arg == L"--") {
      optionsDone = true;
      continue;
    }
    if (arg == L"--help" || arg == L"-h") {
      a->help = true;
      continue;
    }
    if (arg == L"--version") {
      a->version = true;
      continue;
    }
    std::wstring name = arg, value;
    const std::size_t eq = arg.find(L'=');
    const bool inlineValue = eq != std::wstring::npos;
    if (inlineValue) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (name == L"--tsv" || name == L"--all" || name == L"--yes") {
      if (inlineValue) {
        *problem = L"option " + name + L" takes no value";
        return false;
      }
      (name == L"--tsv" ? a->tsv : name == L"--all" ? a->all : a->yes) = true;
      continue;
    }
    bool* have;
    std::wstring* target;
    if (name == L"--to") {
      have = &a->haveTo, target = &a->to;
    } else if (name == L"--kind") {
      have = &a->haveKind, target = &a->kind;
    } else if (name == L"--as") {
      have = &a->haveAs, target = &a->as;
    } else {
      *problem = L"unknown option " + name;
      return false;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) {
        *problem = L"option " + name + L" needs a value";
        return false;
      }
      value = args[++i];
    }
    if (*have) {
      *problem = L"option " + name + L" given twice";
      return false;
    }
    *have = true;
    *target = value;
  }
  return true;
}

bool Only(const Arguments& a, bool tsv, bool all, bool to, bool kind, bool as,
          std::wstring* problem, bool yes = false) {
  const wchar_t* extra = nullptr;
  if (a.yes && !yes) extra = L"--yes";
  if (a.tsv && !tsv) extra = L"--tsv";
  if (a.all && !all) extra = L"--all";
  if (a.haveTo && !to) extra = L"--to";
  if (a.haveKind && !kind) extra = L"--kind";
  if (a.haveAs && !as) extra = L"--as";
  if (!extra) return true;
  *problem = std::wstring(L"palvo ") + a.command + L" takes no " + extra;
  return false;
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
void PrintListing(bool tsv) {
  const int rows = RowCount();
  WCHAR name[kPathUnits], size[kPathUnits], date[kPathUnits];
  std::string line;
  if (tsv) {
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
      line += '\n';
      WriteText(stdout, line);
    }
    return;
  }
  const WCHAR* const header[3] = {L"名前", L"サイズ", L"更新日時"};
  int nameWidth = DisplayWidth(header[0]), sizeWidth = DisplayWidth(header[1]);
  for (int i = 0; i < rows; ++i) {
    nameWidth = std::max(nameWidth, DisplayWidth(CellText(i, 0, name)));
    sizeWidth = std::max(sizeWidth, DisplayWidth(CellText(i, 1, size)));
  }
  // Name left, size right-aligned, date left; columns two blanks apart.
  auto print = [&](const WCHAR* n, const WCHAR* s, const WCHAR* d) {
    line.clear();
    AppendText(line, n, true);
    line.append(static_cast<std::size_t>(nameWidth - DisplayWidth(n) + 2), ' ');
    line.append(static_cast<std::size_t>(sizeWidth - DisplayWidth(s)), ' ');
    AppendText(line, s, true);
    if (*d) {
      line += "  ";
      AppendText(line, d, true);
    }
    line += '\n';
    WriteText(stdout, line);
  };
  print(header[0], header[1], header[2]);
  for (int i = 0; i < rows; ++i)
    print(CellText(i, 0, name), CellText(i, 1, size), CellText(i, 2, date));
}

// --- commands ---

int ExitFor(Message message) { return message ? kExitFailed : kExitOk; }

int List(const Arguments& a) {
  std::wstring problem;
  if (!Only(a, true, false, false, false, false, &problem)) return UsageError(problem);
  if (!a.operands.empty()) return UsageError(L"palvo list takes no operands");
  const Message message = GetListingCommand();
  // What arrived before a failure is shown all the same.
  if (!message || RowCount() > 0) PrintListing(a.tsv);
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
    reason = L"the folder it would be in does not exist (" + FolderOf(path) + L")";
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

int Get(const Arguments& a) {
  std::wstring problem;
  if (!Only(a, false, true, true, false, false, &problem)) return UsageError(problem);
  if (a.all && !a.operands.empty()) return UsageError(L"palvo get --all takes no NAME");
  if (!a.all && a.operands.empty()) return UsageError(L"palvo get needs a NAME or --all");

  // Where the save dialog's choice would point: a folder the rows go into
  // under their own names, or one row's whole file path. Checked, and a
  // missing folder made, before the handset is disturbed; nothing is ever
  // written into a folder the user did not name.
  const std::wstring shown = a.haveTo ? a.to : L".";
  const std::wstring destination = ProgramPath(shown.c_str());
  if (destination.empty()) return Failure(L"cannot resolve the path " + shown);
  bool several = a.all || a.operands.size() > 1;
  for (const std::wstring& name : a.operands) several = several || name == L"mail???.txt";
  const PathKind kind = KindOfPath(destination);
  bool intoFolder = kind == PathKind::Folder || several || EndsWithSeparator(shown);
  if (intoFolder && kind != PathKind::Folder) {
    if (kind != PathKind::Missing) return Failure(L"not a folder: " + shown);
    const DWORD why = MakeDestinationFolder(destination.c_str());
    if (why != ERROR_SUCCESS) return Failure(FolderProblem(shown, destination, why));
  } else if (!intoFolder && KindOfPath(FolderOf(destination)) != PathKind::Folder) {
    return Failure(L"no such folder for " + shown + L": " + FolderOf(destination));
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
    if (!unmatched.empty()) return UsageError(L"no such row in the listing: " + unmatched);
    for (int i = 0; i < rows; ++i) {
      if (chosen[static_cast<std::size_t>(i)]) SelectRow(i);
    }
  }

  WCHAR proposed[kPathUnits];
  bool severalRows = false;
  if (!ProposeDownloadName(proposed, &severalRows)) return Failure(L"nothing to download");
  // One name that matched several rows: they cannot all be one file.
  if (severalRows && !intoFolder) return Failure(L"several rows are called so; give --to DIR");
  std::wstring path = destination;
  if (intoFolder) {
    // Each row into the folder under its own name (or the name it can have
    // there), as the window does with several rows.
    if (path.back() != L'\\') path += L'\\';
    path += proposed;
  }
  if (path.size() >= static_cast<std::size_t>(kPathUnits))
    return Failure(L"path too long: " + path);
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
    if (!asked) Complain((L"replaced " + FromUtf8(counts.c_str())).c_str());
    asked = false;
    return true;
  }
  const int answer = AskOnTerminal("replace " + counts + "?");
  asked = answer >= 0;
  if (answer == 0) Complain((std::wstring(FileNameOf(item.path)) + L" left out").c_str());
  return answer != 0;
}

int Put(const Arguments& a) {
  std::wstring problem;
  if (!Only(a, false, true, false, !a.all, !a.all, &problem, true)) return UsageError(problem);
  if (a.all && a.operands.size() != 1) return UsageError(L"palvo put --all takes one DIR");
  if (!a.all && a.operands.empty()) return UsageError(L"palvo put needs a FILE or --all DIR");
  if (a.haveAs && a.operands.size() != 1) return UsageError(L"--as is for one FILE");
  UploadKind forced = kUploadFile;
  if (a.haveKind && !KindFromText(a.kind, &forced))
    return UsageError(L"unknown kind " + a.kind + L" (file, bookmark, address or mail)");

  // The open dialog's rules for each file: an existing file, its full path.
  std::vector<std::wstring> paths, names;
  for (const std::wstring& file : a.operands) {
    const std::wstring path = ProgramPath(file.c_str());
    if (path.empty()) return Failure(L"cannot resolve the path " + file);
    const PathKind pathKind = KindOfPath(path);
    if (a.all) {
      if (pathKind != PathKind::Folder) return Failure(L"not a folder: " + file);
    } else if (pathKind == PathKind::Missing) {
      return Failure(L"no such file: " + file);
    } else if (pathKind != PathKind::File) {
      return Failure(L"not a file: " + file);
    }
    if (path.size() >= static_cast<std::size_t>(kPathUnits))
      return Failure(L"path too long: " + path);
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
    if (!OpenBackupFolder(&folder, paths[0].c_str())) return Failure(L"path too long: " + paths[0]);
    list = BackupFolderList(&folder);
  }

  int declined = 0;
  const Message message = RunUploads(list, a.yes ? nullptr : &AskReplace, &declined);
  return message || declined > 0 ? kExitFailed : kExitOk;
}

// --- export (export/): a backup's files in today's formats ---
int Export(const Arguments& a) {
  std::wstring problem;
  if (!Only(a, false, false, true, false, false, &problem)) return UsageError(problem);
  if (a.operands.size() != 1 || !a.haveTo) return UsageError(L"palvo export takes DIR --to OUT");
  const std::wstring from = ProgramPath(a.operands[0].c_str()), to = ProgramPath(a.to.c_str());
  if (from.empty() || to.empty()) return Failure(L"cannot resolve the paths");
  if (KindOfPath(from) != PathKind::Folder) return Failure(L"not a folder: " + a.operands[0]);
  static ExportReport report;
  if (const WCHAR* why = ExportBackup(from.c_str(), to.c_str(), &report)) return Failure(why);
  WriteText(stdout, ExportSummaryText(report));
  return report.problems.count() > 0 ? kExitFailed : kExitOk;
}

int Run(const std::vector<std::wstring>& args) {
  Arguments a;
  std::wstring problem;
  if (!Parse(args, &a, &problem)) return UsageError(problem);
  if (a.help) {
    WriteText(stdout, kHelp);
    return kExitOk;
  }
  if (a.version) {
    WriteText(stdout, "palvo " PALVO_VERSION "\n");
    return kExitOk;
  }
  if (a.command.empty()) return UsageError(L"no command");
  if (a.command == L"export") return Export(a);  // local files only: no handset state
  int (*command)(const Arguments&) = nullptr;
  if (a.command == L"list") {
    command = List;
  } else if (a.command == L"get") {
    command = Get;
  } else if (a.command == L"put") {
    command = Put;
  } else {
    return UsageError(L"unknown command " + a.command);
  }

  InitProcessState();
  DeriveInstallationKey();
  g_mainWindow = nullptr;
  g_listView = CreateListingView();
  if (!g_listView) return Failure(L"cannot make the list view");
  CatchStopSignals();
  int status = command(a);
  EndProgressLine();
  std::fflush(stdout);
  // Stopped: the transfer ended at its next piece or item, the handset heard
  // goodbye; the status tells a script which signal it was.
  if (g_stopRequest) status = kExitSignalBase + g_stopRequest;
  return status;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  // The same bytes as natively: lines end in LF, also in a pipe or a file.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::wstring> args(argv, argv + argc);
  return Run(args);
}
#else
int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 0; i < argc; ++i) args.push_back(FromUtf8(argv[i]));
  return Run(args);
}
#endif
