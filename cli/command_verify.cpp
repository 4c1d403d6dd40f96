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

void PrintProblem(VerifyProblem problem, const WCHAR* name, int count) {
  std::wstring line;
  switch (problem) {
    case VerifyProblem::kUnreadableLines:
      line = name + std::wstring(L": ") + std::to_wstring(count) +
             InLanguage(count == 1 ? L" line cannot be read" : L" lines cannot be read",
                        L" 行が読めません");
      break;
    case VerifyProblem::kMissing:
      line = InLanguage(L"missing: ", L"ありません: ") + std::wstring(name);
      break;
    case VerifyProblem::kChanged:
      line = InLanguage(L"changed: ", L"変わっています: ") + std::wstring(name);
      break;
    case VerifyProblem::kNotInBackup:
      line = InLanguage(L"not in the backup: ", L"バックアップにありません: ") + std::wstring(name);
      break;
    case VerifyProblem::kDiffersFromHandset:
      line = InLanguage(L"differs from the handset: ", L"電話機のものと違います: ") +
             std::wstring(name);
      break;
  }
  WriteText(stdout, ToUtf8(line.c_str(), true) + "\n");
}

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
    "the backup: ROW, differs from the handset: ROW; in a Japanese locale ありません:, "
    "変わっています:, バックアップにありません:, 電話機のものと違います:); exit status 0 when the "
    "backup is complete and intact, 1 otherwise.",
    true,
    &AddOptions,
    &Check,
    &Run};
