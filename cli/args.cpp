// The command line's arguments through CLI11: the commands and their options,
// usage errors as one line with a hint, and the help texts, whose option lines
// come from the options CLI11 was given (they cannot drift apart).
#include "cli/args.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/command.h"
#include "palvo_version.h"

namespace {

// The program's options and every command of the table, each with its own.
struct Parser {
  CLI::App app{"", "palvo"};
  bool help = false, version = false;

  explicit Parser(Arguments* a) {
    app.set_help_flag();
    app.allow_extras();
    app.fallthrough();             // the program's options also after the command
    app.require_subcommand(0, 1);  // a command name later on is an operand
    app.add_flag("-h,--help", help,
                 "this help; palvo help COMMAND or palvo COMMAND --help: one "
                 "command's");
    app.add_flag("--version", version, "the program's version");
    app.add_flag("-q,--quiet", a->quiet, "only errors: no progress line, no notes");
    app.add_flag("-v,--verbose", a->verbose,
                 "each step on standard error: the port found, opened, logged in, each row, "
                 "goodbye");
    app.add_option("--port", a->given.port,
                   "the handset's serial port (Linux /dev/ttyACM0, Windows COM3), opened instead "
                   "of the one the registry names, for a handset the registry does not show; the "
                   "PIN is then kept only when a handset driver in the registry publishes that "
                   "port")
        ->type_name("PORT");
    app.add_option("--pin-file", a->given.pinFile,
                   "read the PIN from FILE, a file only its owner may read (else refused), "
                   "instead of the kept one or asking; also PALVO_PIN_FILE. The PIN is never "
                   "taken from the command line itself")
        ->type_name("FILE");
    CLI::Option* trace =
        app.add_option("--trace", a->given.trace,
                       "write every byte to and from the handset into FILE (a new file, only its "
                       "owner may read it), with the PIN's digits left out: a trace to attach to "
                       "a problem report")
            ->type_name("FILE");
    app.add_flag("--trace-private", a->tracePrivate,
                 "with --trace: leave out also what files, bookmarks, addresses and mails hold "
                 "(their length and a hash stand in; names, counts, sizes and dates stay)")
        ->needs(trace);
    for (const Command* c : Commands()) {
      CLI::App* sub = app.add_subcommand(c->name, c->summary);
      sub->set_help_flag();
      sub->allow_extras();
      sub->add_flag("-h,--help", help, "this command's help");
      c->addOptions(sub, a);
    }
  }
};

std::string ChosenCommand(const CLI::App& app) {
  const auto chosen = app.get_subcommands();
  return chosen.empty() ? std::string() : chosen.front()->get_name();
}

// CLI11's complaint in this program's words where they differ; in Japanese
// its own English text stays inside a Japanese frame.
std::wstring Rephrase(const CLI::ParseError& e) {
  std::string what = e.what();
  const std::size_t colon = what.find(':');
  const std::wstring option =
      FromUtf8(colon == std::string::npos ? "" : what.substr(0, colon).c_str());
  if (what.find("required") != std::string::npos && what.find("missing") != std::string::npos)
    return option + InLanguage(L" needs a value", L" の値がありません");
  if (what.find("At Most") != std::string::npos)
    return option + InLanguage(L" given more than once", L" が二度以上指定されています");
  if (!what.empty()) what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
  return InLanguage(L"", L"引数が正しくありません: ") + FromUtf8(what.c_str());
}

}  // namespace

int UsageError(const std::wstring& problem, const std::wstring& command) {
  Complain(problem.c_str());
  const std::wstring hint = command.empty() ? L"palvo --help" : L"palvo " + command + L" --help";
  WriteText(stderr, ToUtf8((InLanguage(L"try '", L"使い方は '") + hint +
                            InLanguage(L"'\n", L"' で表示されます\n"))
                               .c_str()));
  return kExitUsage;
}

int ParseArguments(const std::vector<std::string>& args, Arguments* a) {
  // Everything after the first "--" is an operand, whatever it looks like.
  std::vector<std::string> head, tail;
  bool split = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (!split && args[i] == "--") {
      split = true;
    } else {
      (split ? tail : head).push_back(args[i]);
    }
  }
  Parser p(a);
  std::vector<const char*> argv = {"palvo"};
  for (const std::string& arg : head) argv.push_back(arg.c_str());
  try {
    p.app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    return UsageError(Rephrase(e), FromUtf8(ChosenCommand(p.app).c_str()));
  }
  std::string command = ChosenCommand(p.app);
  const std::wstring wideCommand = FromUtf8(command.c_str());

  const std::vector<std::string> extras = p.app.remaining(true);
  if (!extras.empty()) {
    const std::string& x = extras.front();
    const std::wstring wide = FromUtf8(x.c_str());
    if (x.size() > 1 && x[0] == '-') {
      const std::wstring name = wide.substr(0, wide.find(L'='));
      return UsageError(
          command.empty()
              ? InLanguage(L"unknown option ", L"不明なオプションです: ") + name
              : wideCommand +
                    InLanguage(L" takes no option ", L" には指定できないオプションです: ") + name,
          wideCommand);
    }
    if (command.empty())
      return UsageError(InLanguage(L"unknown command ", L"不明なコマンドです: ") + wide, L"");
    return UsageError(
        wideCommand + InLanguage(L" takes no argument ", L" は引数をとりません: ") + wide,
        wideCommand);
  }

  if (command == "help") return RunHelp(p.app, a->given.topic, tail);
  if (p.help) {
    WriteText(stdout, HelpText(p.app, FindCommand(command)));
    return kExitOk;
  }
  if (p.version) {
    WriteText(stdout, "palvo " PALVO_VERSION "\n");
    return kExitOk;
  }
  if (command.empty()) {
    if (!tail.empty())
      return UsageError(
          InLanguage(L"unknown command ", L"不明なコマンドです: ") + FromUtf8(tail[0].c_str()),
          L"");
    return UsageError(InLanguage(L"no command", L"コマンドがありません"), L"");
  }

  a->command = wideCommand;
  for (const std::string& s : a->given.operands) a->operands.push_back(FromUtf8(s.c_str()));
  for (const std::string& s : tail) a->operands.push_back(FromUtf8(s.c_str()));
  const CLI::App* owner = p.app.get_subcommand(command);
  auto take = [&](const char* name, const std::string& value, bool* have, std::wstring* into) {
    const CLI::Option* option = owner->get_option_no_throw(name);
    if (!option) option = p.app.get_option_no_throw(name);
    *have = option && option->count() > 0;
    *into = FromUtf8(value.c_str());
  };
  take("--to", a->given.to, &a->haveTo, &a->to);
  take("--kind", a->given.kind, &a->haveKind, &a->kind);
  take("--as", a->given.as, &a->haveAs, &a->as);
  take("--port", a->given.port, &a->havePort, &a->port);
  take("--pin-file", a->given.pinFile, &a->havePinFile, &a->pinFile);
  take("--trace", a->given.trace, &a->haveTrace, &a->trace);
  if (a->quiet && a->verbose)
    return UsageError(InLanguage(L"--quiet and --verbose exclude each other",
                                 L"--quiet と --verbose は同時に指定できません"),
                      a->command);
  const Command* c = FindCommand(command);
  if (!c->handset && (a->havePort || a->havePinFile || a->haveTrace))
    return UsageError(a->command + InLanguage(L" talks to no handset: no --port, no --pin-file, "
                                              L"no --trace",
                                              L" は電話機と通信しません: --port、--pin-file、"
                                              L"--trace は指定できません"),
                      a->command);
  return -1;
}
