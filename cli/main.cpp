// palvo: the handset's listing, downloads and uploads from a terminal, over
// the same core and operation runner as the window program.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "commands/commands.h"
#include "download/listing.h"
#include "export/export.h"
#include "link/pin_store.h"
#include "link/port.h"
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
    "       palvo put FILE [--kind file|bookmark|address|mail] [--as NAME]\n"
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
    "    the mail row, are saved each under its own name in PATH if it is a\n"
    "    folder, else in the folder PATH names a file in. Without --to: the\n"
    "    current folder. The mail row writes mail000.txt onwards and first\n"
    "    deletes the mail???.txt files already in that folder.\n"
    "palvo get --all [--to DIR]\n"
    "    Downloads every row into DIR (made when missing; default: the current\n"
    "    folder): a full backup.\n"
    "\n"
    "palvo put FILE [--kind file|bookmark|address|mail] [--as NAME]\n"
    "    Uploads FILE. Its kind follows its name unless --kind says otherwise:\n"
    "    bookmark.txt the bookmarks, address.txt the address book, mailNNN.txt\n"
    "    a mail, anything else an ordinary file, stored under FILE's own name\n"
    "    or NAME, in the category its extension selects. The listing is fetched\n"
    "    again afterwards.\n"
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
    "Exit status: 0 done; 1 failed (the handset's or the program's message on\n"
    "standard error; nothing when the PIN entry was ended); 2 usage error.\n";

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
  bool tsv = false, header = false, all = false, help = false, version = false;
  bool haveTo = false, haveKind = false, haveAs = false;
  bool quiet = false, verbose = false, forget = false, havePort = false, havePinFile = false;
  std::wstring to, kind, as, port, pinFile;
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
    if (arg == L"-q" || arg == L"--quiet" || arg == L"-v" || arg == L"--verbose" ||
        arg == L"--forget") {
      (arg == L"--forget"                    ? a->forget
       : arg[1] == L'q' || arg == L"--quiet" ? a->quiet
                                             : a->verbose) = true;
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
    if (name == L"--tsv" || name == L"--all" || name == L"--header") {
      if (inlineValue) {
        *problem = L"option " + name + L" takes no value";
        return false;
      }
      (name == L"--tsv" ? a->tsv : name == L"--all" ? a->all : a->header) = true;
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
    } else if (name == L"--port") {
      have = &a->havePort, target = &a->port;
    } else if (name == L"--pin-file") {
      have = &a->havePinFile, target = &a->pinFile;
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
          std::wstring* problem) {
  const wchar_t* extra = nullptr;
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

std::wstring RowText(int row, int column) {
  WCHAR text[kPathUnits];
  return CellText(row, column, text);
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

// A row name that is safe to write under in a folder: the handset's names are
// not trusted to stay inside it.
bool IsPlainFileName(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(L"/\\") == std::wstring::npos;
}

int List(const Arguments& a) {
  std::wstring problem;
  if (!Only(a, true, false, false, false, false, &problem)) return UsageError(problem);
  if (!a.operands.empty()) return UsageError(L"palvo list takes no operands");
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

int Get(const Arguments& a) {
  std::wstring problem;
  if (!Only(a, false, true, true, false, false, &problem)) return UsageError(problem);
  if (a.all && !a.operands.empty()) return UsageError(L"palvo get --all takes no NAME");
  if (!a.all && a.operands.empty()) return UsageError(L"palvo get needs a NAME or --all");

  // Where the save dialog's choice would point: a folder to add the proposed
  // name to, or a whole file path. Checked before the handset is disturbed.
  bool intoFolder = true;
  std::wstring destination = ProgramPath(a.haveTo ? a.to.c_str() : L".");
  if (destination.empty()) return Failure(L"cannot resolve the path " + a.to);
  const PathKind kind = KindOfPath(destination);
  if (a.all) {
    if (kind == PathKind::Missing && !MakeFolder(destination))
      return Failure(L"cannot make the folder " + a.to);
    if (KindOfPath(destination) != PathKind::Folder) return Failure(L"not a folder: " + a.to);
  } else if (kind != PathKind::Folder) {
    if (EndsWithSeparator(a.to)) return Failure(L"no such folder: " + a.to);
    intoFolder = false;
    if (KindOfPath(FolderOf(destination)) != PathKind::Folder)
      return Failure(L"no such folder for " + a.to);
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
  bool several = false;
  if (!ProposeDownloadName(proposed, &several)) return Failure(L"nothing to download");
  // Rows that go into a folder are written under their own names.
  if (intoFolder || several) {
    for (int i = 0; i < rows; ++i) {
      if (!(SendMessageW(g_listView, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_SELECTED) &
            LVIS_SELECTED))
        continue;
      const std::wstring name = RowText(i, 0);
      if (!IsPlainFileName(name))
        return Failure(L"the row " + name + L" has no plain file name; save it with --to FILE");
    }
  }
  std::wstring path = destination;
  if (intoFolder) {
    if (path.back() != L'\\') path += L'\\';
    path += proposed;
  }
  if (path.size() >= static_cast<std::size_t>(kPathUnits))
    return Failure(L"path too long: " + path);
  StoreDownloadDestination(path.c_str(), several);
  return ExitFor(RunDownload());
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

int Put(const Arguments& a) {
  std::wstring problem;
  if (!Only(a, false, false, false, true, true, &problem)) return UsageError(problem);
  if (a.operands.size() != 1) return UsageError(L"palvo put takes one FILE");
  const std::wstring& file = a.operands[0];

  const std::wstring path = ProgramPath(file.c_str());
  if (path.empty()) return Failure(L"cannot resolve the path " + file);
  const std::size_t slash = path.rfind(L'\\');
  const std::wstring fileName = slash == std::wstring::npos ? path : path.substr(slash + 1);
  UploadKind kind = DefaultUploadKind(fileName.c_str());
  if (a.haveKind && !KindFromText(a.kind, &kind))
    return UsageError(L"unknown kind " + a.kind + L" (file, bookmark, address or mail)");
  if (a.haveAs) {
    // A name of its own belongs to an ordinary file only; others are not
    // stored under a name, and silently dropping it would mislead.
    if (kind != kUploadFile) return UsageError(L"--as is for --kind file only");
    if (a.as.empty()) return UsageError(L"--as needs a name");
    if (a.as.size() >= static_cast<std::size_t>(kPathUnits))
      return UsageError(L"--as name too long");
  }

  // The open dialog's rules: an existing file, its full path.
  const PathKind pathKind = KindOfPath(path);
  if (pathKind == PathKind::Missing) return Failure(L"no such file: " + file);
  if (pathKind != PathKind::File) return Failure(L"not a file: " + file);
  if (path.size() >= static_cast<std::size_t>(kPathUnits))
    return Failure(L"path too long: " + path);

  const Message listing = GetListingCommand();
  if (listing) return kExitFailed;

  WCHAR name[kPathUnits];
  StoreUploadSource(path.c_str(), name);
  if (a.haveAs) {
    std::wcsncpy(name, a.as.c_str(), kPathUnits - 1);
    name[kPathUnits - 1] = 0;
  }
  return ExitFor(RunUpload(kind, name));
}

// --- the PIN ---
int Pin(const Arguments& a) {
  if (!a.operands.empty()) return UsageError(L"palvo pin takes no operands");
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

int RunCommand(const std::vector<std::wstring>& args);

// Every command's output reaches standard output whole, or the run fails.
int Run(const std::vector<std::wstring>& args) {
  int status = RunCommand(args);
  if (const int error = FinishStandardOutput()) {
    Complain((L"cannot write to standard output: " + FromUtf8(std::strerror(error))).c_str());
    status = kExitFailed;
  }
  return status;
}

int RunCommand(const std::vector<std::wstring>& args) {
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
  } else if (a.command == L"pin") {
    command = Pin;
  } else {
    return UsageError(L"unknown command " + a.command);
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
  const int status = command(a);
  EndProgressLine();
  return status;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  // The same bytes as natively: lines end in LF, also in a pipe or a file.
  GuardStandardStreams();
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::wstring> args(argv, argv + argc);
  return Run(args);
}
#else
int main(int argc, char** argv) {
  GuardStandardStreams();
  std::vector<std::wstring> args;
  for (int i = 0; i < argc; ++i) args.push_back(FromUtf8(argv[i]));
  return Run(args);
}
#endif
