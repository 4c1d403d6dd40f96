// palvo verify: a backup against its manifest and, unless --offline, the
// handset's listing.
#include <CLI/CLI.hpp>

#include "cli/cli.h"
#include "cli/command.h"
#include "commands/commands.h"

namespace {

void AddOptions(CLI::App* sub, Arguments* a) {
  sub->add_flag("--offline", a->offline,
                "check the files against the manifest only, without the handset");
  sub->add_option("DIR", a->given.operands);
}

std::wstring Check(const Arguments& a) {
  if (a.operands.size() != 1)
    return InLanguage(L"verify takes one DIR", L"verify には DIR を一つだけ指定してください");
  return {};
}

void PrintProblem(const WCHAR* line) { WriteText(stdout, ToUtf8(line) + "\n"); }

int Run(const Arguments& a) {
  const std::wstring& shown = a.operands[0];
  if (!RepresentablePath(shown)) return Failure(BackslashProblem(shown));
  const std::wstring path = ProgramPath(shown.c_str());
  if (path.empty())
    return Failure(InLanguage(L"cannot resolve the path ", L"パスを解決できません: ") + shown);
  if (KindOfPath(path) != PathKind::Folder)
    return Failure(InLanguage(L"not a folder: ", L"フォルダではありません: ") + shown);
  std::wstring dir = path;
  if (dir.back() != L'\\') dir += L'\\';
  if (dir.size() >= static_cast<std::size_t>(kPathUnits))
    return Failure(InLanguage(L"path too long: ", L"パスが長すぎます: ") + ShownPath(dir));
  Message why = nullptr;
  const int problems = VerifyBackup(dir.c_str(), a.offline, &PrintProblem, &why);
  if (problems < 0) {
    if (why) return kExitFailed;  // the listing's message, said already
    return Failure(InLanguage(L"no backup manifest in ", L"バックアップの目録がありません: ") +
                   shown +
                   InLanguage(L" (palvo-backup.tsv, written by get --all)",
                              L" (get --all が書く palvo-backup.tsv)"));
  }
  if (problems == 0 && !g_quiet)
    Complain(
        InLanguage(L"the backup is complete and intact", L"バックアップは欠けも傷みもありません"));
  return problems == 0 ? kExitOk : kExitFailed;
}

}  // namespace

extern const Command kVerifyCommand = {
    "verify",
    "palvo verify [--offline] DIR",
    "check a backup against the handset",
    "Checks the backup in DIR (written by get --all) against its palvo-backup.tsv: every file "
    "there with its size and SHA-256; and, with the handset attached, lists the handset and "
    "names every row the backup lacks or holds with another size or date. --offline checks the "
    "files only. One line per problem on standard output (missing: FILE, changed: FILE, not in "
    "the backup: ROW, differs from the handset: ROW); exit status 0 when the backup is complete "
    "and intact, 1 otherwise.",
    true,
    &AddOptions,
    &Check,
    &Run};
