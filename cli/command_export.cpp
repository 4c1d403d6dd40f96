// palvo export: a backup's local files in today's formats (export/); no handset.
#include <CLI/CLI.hpp>

#include "cli/cli.h"
#include "cli/command.h"
#include "export/export.h"

namespace {

void AddOptions(CLI::App* sub, Arguments* a) {
  sub->add_option("--to", a->given.to, "the folder the copies go to")->type_name("OUT");
  sub->add_option("DIR", a->given.operands);
}

std::wstring Check(const Arguments& a) {
  if (a.operands.size() != 1 || !a.haveTo) return L"export takes DIR --to OUT";
  return {};
}

int Run(const Arguments& a) {
  const std::wstring from = ProgramPath(a.operands[0].c_str()), to = ProgramPath(a.to.c_str());
  if (from.empty() || to.empty()) return Failure(L"cannot resolve the paths");
  if (KindOfPath(from) != PathKind::Folder) return Failure(L"not a folder: " + a.operands[0]);
  static ExportReport report;
  if (const WCHAR* why = ExportBackup(from.c_str(), to.c_str(), &report)) return Failure(why);
  WriteText(stdout, ExportSummaryText(report));
  return report.problems.count() > 0 ? kExitFailed : kExitOk;
}

}  // namespace

extern const Command kExportCommand = {
    "export",
    "palvo export DIR --to OUT",
    "write a backup in today's formats",
    "Writes a backup (a folder written by get --all) in today's formats into OUT (made when "
    "missing), never touching DIR nor the handset: contacts.vcf (vCard 3.0, UTF-8) from "
    "address.txt, bookmarks.html (a bookmark file browsers import) from bookmark.txt, mail/ "
    "with every mailNNN.txt as UTF-8 text, and every other file copied as it is. Ends with a "
    "summary: what was exported, and each problem with its file and line; exit status 1 when "
    "there was any.",
    false,
    &AddOptions,
    &Check,
    &Run};
