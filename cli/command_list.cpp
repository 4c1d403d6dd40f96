// palvo list: the handset's listing on standard output.
#include <CLI/CLI.hpp>

#include "cli/cli.h"
#include "cli/command.h"
#include "commands/commands.h"

namespace {

void AddOptions(CLI::App* sub, Arguments* a) {
  sub->add_flag("--tsv", a->tsv,
                "one line per row, fields separated by TABs, in UTF-8: icon, name, size as "
                "shown, date (for the first three rows their kind as the handset names it, in "
                "Japanese in every locale), size in bytes (empty for the first three rows). "
                "Icons: 0 image, 1 music, 2 net, 3 card, 4 other, 5 bookmarks, 6 address book, 7 "
                "mail");
  sub->add_flag("--header", a->header,
                "with --tsv: a first line naming the fields: icon, name, size, date_or_kind, "
                "bytes");
}

std::wstring Check(const Arguments& a) {
  if (!a.operands.empty()) return InLanguage(L"list takes no operands", L"list は引数をとりません");
  if (a.header && !a.tsv)
    return InLanguage(L"--header goes with --tsv", L"--header は --tsv と一緒に指定してください");
  return {};
}

int Run(const Arguments& a) {
  const Message message = GetListingCommand();
  // What arrived before a failure is shown all the same.
  if (!message || RowCount() > 0) PrintListing(a.tsv, a.header);
  return message ? kExitFailed : kExitOk;
}

}  // namespace

extern const Command kListCommand = {
    "list",
    "palvo list [--tsv [--header]]",
    "print the handset's listing",
    "Fetches the handset's listing and prints it: the rows bookmark.txt, address.txt and "
    "mail???.txt first, then the files, newest first, with their size and date. On a terminal "
    "the table fits its width, long names cut with \"…\"; piped, names are whole.",
    true,
    &AddOptions,
    &Check,
    &Run};
