// The command line's arguments through CLI11: the commands and their options,
// usage errors as one line with a hint, and the help texts, whose option lines
// come from the options CLI11 was given (they cannot drift apart).
#include "cli/args.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "palvo_version.h"

namespace {

struct Command {
  const char* name;
  const char* synopsis;  // one line per form, each starting "palvo NAME"
  const char* summary;   // for the list of commands
  const char* text;      // what it does
  bool handset;          // talks to the handset: --port and --pin-file apply
};

const Command kCommands[] = {
    {"list", "palvo list [--tsv [--header]]", "print the handset's listing",
     "Fetches the handset's listing and prints it: the rows bookmark.txt, address.txt and "
     "mail???.txt first, then the files, newest first, with their size and date. On a terminal "
     "the table fits its width, long names cut with \"…\"; piped, names are whole.",
     true},
    {"get", "palvo get [--to PATH] NAME...\npalvo get --all [--to DIR]",
     "download rows of the listing",
     "Downloads the rows whose name is NAME, exactly as the listing shows it (quote mail???.txt "
     "for the shell). One row is saved as PATH, or under its own name when PATH is a folder or "
     "ends with \"/\"; with --to - one row's file goes to standard output. Several rows, or the "
     "mail row, are saved each under its own name in the folder PATH (made when missing, one "
     "level). Without --to: the current folder. The mail row writes mail000.txt onwards, and "
     "once all of it arrived the mail???.txt files already in that folder give way to the new "
     "ones. A file arrives under a part name (.palvo-NAME.part) and replaces an older one only "
     "when whole; it keeps the handset's date. A row whose name cannot be a file name here (a "
     "slash, a control character; on Windows also < > : \" | ? * and device names), or that "
     "would take the place of bookmark.txt, address.txt or a mail file, is saved under another "
     "name; the rows saved so are listed at the end. With --all every row goes into DIR: a full "
     "backup.",
     true},
    {"put",
     "palvo put [--yes] [--kind file|bookmark|address|mail] [--as NAME] FILE...\npalvo put --all "
     "[--yes] DIR",
     "upload local files, or restore a backup",
     "Uploads each FILE, in order, in one connection; every FILE is checked first and nothing is "
     "sent when one fails (the message names the file and its line). A file's kind follows its "
     "name unless --kind says otherwise: bookmark.txt the bookmarks, address.txt the address "
     "book, mailNNN.txt a mail, anything else an ordinary file, stored under its own name (or "
     "NAME, for one FILE) in the category its extension selects. The listing is fetched again "
     "once at the end. Bookmarks and the address book replace the handset's whole set: on a "
     "terminal palvo asks first, with the counts; --yes answers yes; without a terminal it goes "
     "ahead and says what it replaced. With --all, restores a folder written by get --all: "
     "bookmark.txt, address.txt, every mailNNN.txt in number order, then every other file as an "
     "ordinary file.",
     true},
    {"pin", "palvo pin [--forget]", "enter the handset's PIN and keep it",
     "Asks for the handset's four-digit PIN (or takes it from --pin-file), logs in with it and, "
     "once the handset accepted it, keeps it scrambled in the registry, so that later commands "
     "ask no more. With --forget, forgets every kept PIN instead; the handset need not be "
     "there.",
     true},
    {"export", "palvo export DIR --to OUT", "write a backup in today's formats",
     "Writes a backup (a folder written by get --all) in today's formats into OUT (made when "
     "missing), never touching DIR nor the handset: contacts.vcf (vCard 3.0, UTF-8) from "
     "address.txt, bookmarks.html (a bookmark file browsers import) from bookmark.txt, mail/ "
     "with every mailNNN.txt as UTF-8 text, and every other file copied as it is. Ends with a "
     "summary: what was exported, and each problem with its file and line; exit status 1 when "
     "there was any.",
     false},
    {"help", "palvo help [COMMAND]", "this help, or one command's",
     "Prints this help, or one command's: palvo help get is palvo get --help.", false},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

const char kIntro[] =
    "palvo: a PHS handset's files, bookmarks, address book and mail from the command line.\n"
    "\n"
    "usage: palvo COMMAND [OPTIONS] [ARGUMENTS]\n";

const char kAbout[] =
    "The handset's port is found through the registry (on Linux: its USB ids in sysfs), unless "
    "--port names it. The PIN is asked for once, on the terminal without echo (or read as a "
    "line from standard input), and kept scrambled in the registry; palvo pin enters it anew. "
    "Progress of long transfers is shown on a terminal. Ctrl-C (or SIGTERM, SIGHUP) stops a "
    "command at its next piece or item: files being written are removed, the handset is told "
    "goodbye; a second Ctrl-C ends at once.\n"
    "\n"
    "The handset's messages are Japanese; outside a Japanese locale (LC_ALL, LC_MESSAGES or "
    "LANG; on Windows the user's display language) each is followed by its meaning in "
    "English.\n";

const char kEnvironment[] =
    "Environment: PALVO_PIN_FILE, a PIN file as --pin-file takes; PALVO_REGISTRY, the registry "
    "file (default $XDG_STATE_HOME/palvo/registry.reg, ~/.local/state/palvo/registry.reg).\n";

const char kExitStatus[] =
    "Exit status: 0 done; 1 failed (the message is on standard error), a row or file was not "
    "saved or was left out, or standard output could not be written; 2 usage error (nothing "
    "was sent to the handset); 130, 143, 129 stopped by Ctrl-C, SIGTERM, SIGHUP.\n";

constexpr std::size_t kWidth = 79;
constexpr std::size_t kOptionColumn = 20;

// Text in lines of at most kWidth columns (counted in bytes: the texts are
// ASCII but for an ellipsis); "\n" breaks a line. Lines start after indent
// blanks, the first after head instead when one is given.
std::string Wrap(const std::string& text, std::size_t indent, const std::string& head = "") {
  std::string out, line = head.empty() ? std::string(indent, ' ') : head;
  bool words = false;  // the line holds a word of the text
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == ' ' || text[i] == '\n') {
      if (text[i] == '\n') {
        out += line + "\n";
        line.assign(indent, ' ');
        words = false;
      }
      ++i;
      continue;
    }
    std::size_t end = text.find_first_of(" \n", i);
    if (end == std::string::npos) end = text.size();
    if (words && line.size() + 1 + (end - i) > kWidth) {
      out += line + "\n";
      line.assign(indent, ' ');
      words = false;
    }
    if (words) line += ' ';
    line.append(text, i, end - i);
    words = true;
    i = end;
  }
  if (words || !head.empty()) out += line + "\n";
  return out;
}

bool IsHelpFlag(const CLI::Option* o) { return o->check_lname("help"); }
bool IsHandsetOption(const CLI::Option* o) {
  return o->check_lname("port") || o->check_lname("pin-file") || o->check_lname("trace") ||
         o->check_lname("trace-private");
}

// The option lines: names, value, description, as CLI11 holds them.
std::string OptionLines(const CLI::App* app, bool (*shown)(const CLI::Option*)) {
  std::string out;
  for (const CLI::Option* option : app->get_options()) {
    if (option->get_positional() || !shown(option)) continue;
    std::string names = option->get_name(false, true);
    for (std::size_t at = names.find(','); at != std::string::npos; at = names.find(',', at + 2))
      names.replace(at, 1, ", ");
    std::string head = "  " + names;
    if (option->get_type_size() != 0) head += " " + option->get_type_name();
    head += head.size() + 2 > kOptionColumn ? "  " : std::string(kOptionColumn - head.size(), ' ');
    out += Wrap(option->get_description(), kOptionColumn, head);
  }
  return out;
}

// The synopsis lines, each after prefix (or blanks as wide).
std::string CommandHelp(const Command& c, const CLI::App* sub, const std::string& prefix = "") {
  std::string out, synopsis = c.synopsis;
  for (std::size_t start = 0, line = 0; start <= synopsis.size(); ++line) {
    std::size_t end = synopsis.find('\n', start);
    if (end == std::string::npos) end = synopsis.size();
    out += (line == 0 ? prefix : std::string(prefix.size(), ' ')) +
           synopsis.substr(start, end - start) + "\n";
    start = end + 1;
  }
  if (*c.text) out += Wrap(c.text, 4);
  out += OptionLines(sub, [](const CLI::Option* o) { return !IsHelpFlag(o); });
  return out;
}

struct Parser {
  CLI::App app{"", "palvo"};
  CLI::App* subs[std::size(kCommands)] = {};
  bool help = false, version = false;
  std::string to, kind, as, port, pinFile, trace, topic;
  std::vector<std::string> operands;
  Arguments* a;

  explicit Parser(Arguments* arguments) : a(arguments) {
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
    app.add_option("--port", port,
                   "the handset's serial port (Linux /dev/ttyACM0, Windows COM3), opened instead "
                   "of the one the registry names, for a handset the registry does not show; the "
                   "PIN is then kept only when a handset driver in the registry publishes that "
                   "port")
        ->type_name("PORT");
    app.add_option("--pin-file", pinFile,
                   "read the PIN from FILE, a file only its owner may read (else refused), "
                   "instead of the kept one or asking; also PALVO_PIN_FILE. The PIN is never "
                   "taken from the command line itself")
        ->type_name("FILE");
    CLI::Option* traceOption =
        app.add_option("--trace", trace,
                       "write every byte to and from the handset into FILE (a new file, only its "
                       "owner may read it), with the PIN's digits left out: a trace to attach to "
                       "a problem report")
            ->type_name("FILE");
    app.add_flag("--trace-private", a->tracePrivate,
                 "with --trace: leave out also what files, bookmarks, addresses and mails hold "
                 "(their length and a hash stand in; names, counts, sizes and dates stay)")
        ->needs(traceOption);
    for (std::size_t i = 0; i < std::size(kCommands); ++i) {
      CLI::App* sub = app.add_subcommand(kCommands[i].name, kCommands[i].summary);
      sub->set_help_flag();
      sub->allow_extras();
      sub->add_flag("-h,--help", help, "this command's help");
      subs[i] = sub;
    }
    Sub("list")->add_flag("--tsv", a->tsv,
                          "one line per row, fields separated by TABs, in UTF-8: icon, name, size "
                          "as shown, date, size in bytes (empty for the first three rows). "
                          "Icons: 0 image, 1 music, 2 net, 3 card, 4 other, 5 bookmarks, 6 "
                          "address book, 7 mail");
    Sub("list")->add_flag("--header", a->header,
                          "with --tsv: a first line naming the fields: icon, name, size, date, "
                          "bytes");
    Sub("get")->add_flag("--all", a->all, "every row of the listing, into DIR");
    Sub("get")
        ->add_option("--to", to,
                     "where the rows go: a file for one row (- for standard output), else a "
                     "folder")
        ->type_name("PATH");
    Sub("get")->add_option("NAME", operands);
    Sub("put")->add_flag("--all", a->all, "restore the backup folder DIR");
    Sub("put")->add_flag("--yes", a->yes,
                         "replace the handset's bookmarks or address book without asking");
    Sub("put")
        ->add_option("--kind", kind,
                     "upload every FILE as file (an ordinary file), bookmark, address (a file of "
                     "vCards) or mail, whatever its name")
        ->type_name("file|bookmark|address|mail");
    Sub("put")
        ->add_option("--as", as, "the name the handset stores one ordinary FILE under")
        ->type_name("NAME");
    Sub("put")->add_option("FILE", operands);
    Sub("pin")->add_flag("--forget", a->forget, "forget the kept PIN instead");
    Sub("export")->add_option("--to", to, "the folder the copies go to")->type_name("OUT");
    Sub("export")->add_option("DIR", operands);
    Sub("help")->add_option("COMMAND", topic);
  }

  CLI::App* Sub(const char* name) {
    for (std::size_t i = 0; i < std::size(kCommands); ++i) {
      if (std::string(kCommands[i].name) == name) return subs[i];
    }
    return nullptr;
  }

  std::string Common(bool withHandset) const {
    std::string out = "Options of every command, before or after it:\n" +
                      OptionLines(&app, [](const CLI::Option* o) { return !IsHandsetOption(o); });
    if (withHandset)
      out += "Options of the commands that talk to the handset (list, get, put, pin):\n" +
             OptionLines(&app, IsHandsetOption);
    return out;
  }

  std::string FullHelp() {
    std::string out = kIntro;
    out += "\nCommands:\n";
    for (const Command& c : kCommands) {
      std::string head = std::string("  ") + c.name;
      head.resize(12, ' ');
      out += head + c.summary + "\n";
    }
    for (std::size_t i = 0; i < std::size(kCommands); ++i)
      out += "\n" + CommandHelp(kCommands[i], subs[i]);
    out += "\n" + Common(true) + "\n" + Wrap(kAbout, 0) + "\n" + Wrap(kEnvironment, 0) + "\n" +
           Wrap(kExitStatus, 0);
    return out;
  }

  std::string HelpOf(const Command& c) {
    std::string out = CommandHelp(c, Sub(c.name), "usage: ") + "\n" + Common(c.handset);
    if (c.handset) out += "\n" + Wrap(kEnvironment, 0);
    out += "\n" + Wrap(kExitStatus, 0);
    return out;
  }
};

std::string ChosenCommand(const CLI::App& app) {
  const auto chosen = app.get_subcommands();
  return chosen.empty() ? std::string() : chosen.front()->get_name();
}

// CLI11's complaint in this program's words where they differ.
std::string Rephrase(const CLI::ParseError& e) {
  std::string what = e.what();
  const std::size_t colon = what.find(':');
  const std::string option = colon == std::string::npos ? std::string() : what.substr(0, colon);
  if (what.find("required") != std::string::npos && what.find("missing") != std::string::npos)
    return option + " needs a value";
  if (what.find("At Most") != std::string::npos) return option + " given more than once";
  if (!what.empty()) what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
  return what;
}

}  // namespace

int UsageError(const std::wstring& problem, const std::wstring& command) {
  Complain(problem.c_str());
  const std::string hint =
      command.empty() ? "palvo --help" : "palvo " + ToUtf8(command.c_str()) + " --help";
  WriteText(stderr, "try '" + hint + "'\n");
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
    return UsageError(FromUtf8(Rephrase(e).c_str()), FromUtf8(ChosenCommand(p.app).c_str()));
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
          command.empty() ? L"unknown option " + name : wideCommand + L" takes no option " + name,
          wideCommand);
    }
    if (command.empty()) return UsageError(L"unknown command " + wide, L"");
    return UsageError(wideCommand + L" takes no argument " + wide, wideCommand);
  }

  if (command == "help") {
    if (!p.topic.empty() && !tail.empty())
      return UsageError(L"help takes one COMMAND", wideCommand);
    const std::string topic = !p.topic.empty() ? p.topic : tail.empty() ? "" : tail.front();
    if (tail.size() > 1) return UsageError(L"help takes one COMMAND", wideCommand);
    if (topic.empty()) {
      WriteText(stdout, p.FullHelp());
      return kExitOk;
    }
    const Command* c = FindCommand(topic);
    if (!c) return UsageError(L"no command " + FromUtf8(topic.c_str()), wideCommand);
    WriteText(stdout, p.HelpOf(*c));
    return kExitOk;
  }
  if (p.help) {
    const Command* c = FindCommand(command);
    WriteText(stdout, c ? p.HelpOf(*c) : p.FullHelp());
    return kExitOk;
  }
  if (p.version) {
    WriteText(stdout, "palvo " PALVO_VERSION "\n");
    return kExitOk;
  }
  if (command.empty()) {
    if (!tail.empty()) return UsageError(L"unknown command " + FromUtf8(tail[0].c_str()), L"");
    return UsageError(L"no command", L"");
  }

  a->command = wideCommand;
  for (const std::string& s : p.operands) a->operands.push_back(FromUtf8(s.c_str()));
  for (const std::string& s : tail) a->operands.push_back(FromUtf8(s.c_str()));
  auto take = [&](const char* name, const std::string& value, bool* have, std::wstring* into) {
    const CLI::App* owner = p.Sub(command.c_str());
    const CLI::Option* option = owner->get_option_no_throw(name);
    if (!option) option = p.app.get_option_no_throw(name);
    *have = option && option->count() > 0;
    *into = FromUtf8(value.c_str());
  };
  take("--to", p.to, &a->haveTo, &a->to);
  take("--kind", p.kind, &a->haveKind, &a->kind);
  take("--as", p.as, &a->haveAs, &a->as);
  take("--port", p.port, &a->havePort, &a->port);
  take("--pin-file", p.pinFile, &a->havePinFile, &a->pinFile);
  take("--trace", p.trace, &a->haveTrace, &a->trace);
  if (a->quiet && a->verbose)
    return UsageError(L"--quiet and --verbose exclude each other", a->command);
  const Command* c = FindCommand(command);
  if (!c->handset && (a->havePort || a->havePinFile || a->haveTrace))
    return UsageError(a->command + L" talks to no handset: no --port, no --pin-file, no --trace",
                      a->command);
  return -1;
}
