// palvo export: a backup's local files in today's formats (export/); no handset.
#include <CLI/CLI.hpp>

#include "cli/cli.h"
#include "cli/command.h"
#include "export/export.h"

namespace {

void AddOptions(CLI::App* sub, Arguments* a) {
  sub->add_option("--to", a->given.to, "the folder the export goes to")->type_name("OUT");
  sub->add_flag("--force", a->force, "export even into an OUT that holds other files (kept aside)");
  sub->add_option("DIR", a->given.operands);
}

std::wstring Check(const Arguments& a) {
  if (a.operands.size() != 1 || !a.haveTo)
    return InLanguage(L"export takes DIR --to OUT",
                      L"export には DIR と --to OUT を指定してください");
  return {};
}

int Run(const Arguments& a) {
  const std::wstring from = ProgramPath(a.operands[0].c_str()), to = ProgramPath(a.to.c_str());
  if (from.empty() || to.empty())
    return Failure(InLanguage(L"cannot resolve the paths", L"パスを解決できません"));
  std::wstring reason;
  const PathKind kind = KindOfPath(from, &reason);
  if (kind == PathKind::Missing)
    return Failure(InLanguage(L"", L"読めません: ") + a.operands[0] + L": " + reason);
  if (kind != PathKind::Folder)
    return Failure(InLanguage(L"not a folder: ", L"フォルダではありません: ") + a.operands[0]);
  static ExportReport report;
  ExportOptions options;
  options.force = a.force;
  options.stop = &g_stopRequest;
  options.japanese = IsJapaneseLocale();
  // A signal stops the export between pieces, so that its temporary folder
  // is removed and OUT stays as it was.
  CatchStopSignals();
  if (const WCHAR* why = ExportBackup(from.c_str(), to.c_str(), options, &report)) {
    const int status = Failure(why);
    return g_stopRequest ? kExitSignalBase + g_stopRequest : status;
  }
  WriteText(stdout, ExportSummaryText(report, options.japanese));
  return report.problems.count() > 0 ? kExitFailed : kExitOk;
}

}  // namespace

extern const Command kExportCommand = {
    "export",
    "palvo export [--force] DIR --to OUT",
    "write a backup in today's formats",
    "Writes a backup (a folder written by get --all) in today's formats into OUT, never "
    "touching DIR nor the handset: index.html (an archive to browse in any browser), mail.mbox "
    "and mail/NNN.eml (every mail as a message), contacts.vcf (every vCard, vCard 3.0), "
    "bookmarks.html (a bookmark file browsers import) and files/ (every other file as it is, "
    "text in Shift-JIS with a UTF-8 copy beside it). The export is made in a temporary folder "
    "beside OUT and replaces OUT only when whole; a stop or a failure leaves OUT as it was. An "
    "OUT holding files an export did not write is refused; --force puts them aside "
    "(OUT.before-export) and exports. Ends with a summary: what was exported, and each problem "
    "with its file and line; exit status 1 when there was any.",
    false,
    &AddOptions,
    &Check,
    &Run};
