// The table of commands. Adding a command is one new file, command_NAME.cpp,
// that defines `const Command kNAMECommand`, and one name in this table; the
// help and the dispatch both follow the table.
#include <string>

#include "cli/command.h"

#define PALVO_COMMANDS(X) X(List) X(Get) X(Put) X(Pin) X(Export) X(Help)

#define PALVO_DECLARE(Name) extern const Command k##Name##Command;
PALVO_COMMANDS(PALVO_DECLARE)
#undef PALVO_DECLARE

namespace {
#define PALVO_ENTRY(Name) &k##Name##Command,
const Command* const kCommands[] = {PALVO_COMMANDS(PALVO_ENTRY)};
#undef PALVO_ENTRY
}  // namespace

std::span<const Command* const> Commands() { return kCommands; }

const Command* FindCommand(const std::string& name) {
  for (const Command* c : kCommands) {
    if (name == c->name) return c;
  }
  return nullptr;
}
