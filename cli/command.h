// A command of palvo: one file each (command_NAME.cpp) with its help text,
// its options and its run function, listed once in the table of commands.cpp,
// which drives both the help and the dispatch.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "cli/args.h"

namespace CLI {
class App;
}

struct Command {
  const char* name;
  const char* synopsis;  // one line per form, each starting "palvo NAME"
  const char* summary;   // for the list of commands
  const char* text;      // what it does
  bool handset;          // talks to the handset: --port and --pin-file apply
  // Its options and operands, on its CLI11 subcommand.
  void (*addOptions)(CLI::App* sub, Arguments* a);
  // A usage problem of the parsed arguments that is the command's own; empty
  // when there is none. Asked just before run.
  std::wstring (*check)(const Arguments& a);
  // Does the command; its exit status. Null for help, which the parser runs.
  int (*run)(const Arguments& a);
};

// Every command, in the order the help lists them.
std::span<const Command* const> Commands();
const Command* FindCommand(const std::string& name);

// The help (command_help.cpp): of every command, or of c alone.
std::string HelpText(const CLI::App& app, const Command* c);
// palvo help: of every command, or of the one named by topic or after "--".
int RunHelp(const CLI::App& app, const std::string& topic, const std::vector<std::string>& tail);
