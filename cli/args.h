// The command line's arguments, parsed by CLI11, and its help texts.
#pragma once

#include <string>
#include <vector>

struct Arguments {
  std::wstring command;  // list, get, put, pin, verify, export
  std::vector<std::wstring> operands;
  bool tsv = false, header = false, all = false, yes = false, forget = false, force = false;
  bool quiet = false, verbose = false, refetch = false, offline = false;
  bool haveTo = false, haveKind = false, haveAs = false, havePort = false, havePinFile = false;
  bool haveTrace = false, tracePrivate = false;
  std::wstring to, kind, as, port, pinFile, trace;
  // What the options are given, UTF-8, as the parser fills them; the wide
  // fields above are made of them once the parse is done.
  struct Given {
    std::string to, kind, as, port, pinFile, trace, topic;
    std::vector<std::string> operands;
  } given;
};

// Parses args (UTF-8, args[0] the program). Returns -1 with *a filled when a
// command is to run; otherwise the exit status, after printing the help or
// the version on stdout, or a usage error (one line and a hint) on stderr.
int ParseArguments(const std::vector<std::string>& args, Arguments* a);

// A usage error found after parsing: "palvo: problem" and the hint to the
// command's help. Returns the usage error's exit status.
int UsageError(const std::wstring& problem, const std::wstring& command);
