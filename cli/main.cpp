// palvo: the handset's listing, downloads and uploads from a terminal, over
// the same core and operation runner as the window program. This file sets
// the process up and hands over to the command the table names.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/cli.h"
#include "cli/command.h"
#include "link/pin_store.h"
#include "link/port.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "platform/win32/safe_loading.h"
#else
#include <sys/stat.h>
#endif

namespace {

// The core's process state, the list view and the front end's hooks, for a
// command that talks to the handset; its failure's exit status, or -1.
int SetUpHandsetRun(const Arguments& a) {
  InitProcessState();
  DeriveInstallationKey();
  g_mainWindow = nullptr;
  g_listView = CreateListingView();
  if (!g_listView)
    return Failure(InLanguage(L"cannot make the list view", L"リストビューを作れません"));
#ifndef _WIN32
  // A registry file that cannot be read would look like no handset at all.
  if (char problem[kPathUnits * 4]; RegistryFileProblem(problem, sizeof problem))
    return Failure(
        InLanguage(L"cannot read the registry file ", L"レジストリファイルが読めません: ") +
        FromUtf8(problem));
#endif
  g_quiet = a.quiet;
  g_verbose = a.verbose;
  FollowSteps();
  if (a.havePort) {
    if (a.port.empty() || a.port.size() >= static_cast<std::size_t>(kPathUnits))
      return UsageError(InLanguage(L"--port needs a port name", L"--port にポート名がありません"),
                        a.command);
    std::wcsncpy(g_givenPort, DevicePortName(a.port).c_str(), kPathUnits - 1);
  }
  std::wstring pinFile = a.pinFile;
  if (!a.havePinFile) {
    const char* env = std::getenv("PALVO_PIN_FILE");
    if (env && *env) pinFile = FromUtf8(env);
  }
  if (!pinFile.empty() && !(a.command == L"pin" && a.forget)) {
    DWORD pin = 0;
    std::wstring why;
    if (!ReadPinFile(pinFile, &pin, &why))
      return Failure(InLanguage(L"PIN file ", L"暗証番号ファイル ") + pinFile + L": " + why);
    GivePin(pin, pinFile);
    g_pinSource = PinSource::kGiven;
  }
  return -1;
}

int RunChecked(const Command& c, const Arguments& a) {
  if (const std::wstring problem = c.check ? c.check(a) : std::wstring(); !problem.empty())
    return UsageError(problem, a.command);
  return c.run(a);
}

int RunCommand(const std::vector<std::string>& args) {
  static Arguments a;
  if (const int status = ParseArguments(args, &a); status >= 0) return status;
  const Command& c = *FindCommand(ToUtf8(a.command.c_str()));
  if (!c.handset) return RunChecked(c, a);  // local files only: no handset state
  if (const int status = SetUpHandsetRun(a); status >= 0) return status;
  if (const int status = StartCommandTrace(a); status >= 0) return status;
  CatchStopSignals();
  int status = RunChecked(c, a);
  // A mistyped PIN on a terminal: the handset refused it before anything was
  // transferred, and the person gets a second try.
  if (status != kExitOk && AskRefusedPinAgain()) status = RunChecked(c, a);
  EndProgressLine();
  FinishCommandTrace(a);
  // Stopped: the transfer ended at its next piece or item, the handset heard
  // goodbye; the status tells a script which signal it was.
  if (g_stopRequest) status = kExitSignalBase + g_stopRequest;
  return status;
}

// Every command's output reaches standard output whole, or the run fails.
int Run(const std::vector<std::string>& args) {
  int status = RunCommand(args);
  const int error = FinishStandardOutput();
  // The reader went away (head, a pager quit): it has all it wanted, and the
  // command ends as if SIGPIPE had stopped it, without a word.
  if (error == EPIPE) return kExitSignalBase + kSigPipe;
  if (error) {
    Complain((InLanguage(L"cannot write to standard output: ", L"標準出力に書き込めません: ") +
              FromUtf8(std::strerror(error)))
                 .c_str());
    status = kExitFailed;
  }
  return status;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  RestrictDllSearch();  // before anything can load a DLL by name
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
  // Mail, addresses and photos are personal: what palvo makes (a backup's
  // folders and files, an export) only its owner may read.
  ::umask(077);
  return Run(std::vector<std::string>(argv, argv + argc));
}
#endif
