// palvo help [COMMAND]: the help of every command, or of one; its option
// lines come from the options CLI11 was given, so they cannot drift apart.
#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/command.h"

namespace {

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

std::string Common(const CLI::App& app, bool withHandset) {
  std::string out = "Options of every command, before or after it:\n" +
                    OptionLines(&app, [](const CLI::Option* o) { return !IsHandsetOption(o); });
  if (withHandset)
    out += "Options of the commands that talk to the handset (list, get, put, verify, pin):\n" +
           OptionLines(&app, IsHandsetOption);
  return out;
}

std::string FullHelp(const CLI::App& app) {
  std::string out = kIntro;
  out += "\nCommands:\n";
  for (const Command* c : Commands()) {
    std::string head = std::string("  ") + c->name;
    head.resize(12, ' ');
    out += head + c->summary + "\n";
  }
  for (const Command* c : Commands()) out += "\n" + CommandHelp(*c, app.get_subcommand(c->name));
  out += "\n" + Common(app, true) + "\n" + Wrap(kAbout, 0) + "\n" + Wrap(kEnvironment, 0) + "\n" +
         Wrap(kExitStatus, 0);
  return out;
}

std::string HelpOf(const CLI::App& app, const Command& c) {
  std::string out =
      CommandHelp(c, app.get_subcommand(c.name), "usage: ") + "\n" + Common(app, c.handset);
  if (c.handset) out += "\n" + Wrap(kEnvironment, 0);
  out += "\n" + Wrap(kExitStatus, 0);
  return out;
}

void AddOptions(CLI::App* sub, Arguments* a) { sub->add_option("COMMAND", a->given.topic); }

}  // namespace

std::string HelpText(const CLI::App& app, const Command* c) {
  return c ? HelpOf(app, *c) : FullHelp(app);
}

int RunHelp(const CLI::App& app, const std::string& topic, const std::vector<std::string>& tail) {
  if (!topic.empty() && !tail.empty())
    return UsageError(
        InLanguage(L"help takes one COMMAND", L"help にはコマンドを一つだけ指定してください"),
        L"help");
  const std::string name = !topic.empty() ? topic : tail.empty() ? "" : tail.front();
  if (tail.size() > 1)
    return UsageError(
        InLanguage(L"help takes one COMMAND", L"help にはコマンドを一つだけ指定してください"),
        L"help");
  if (name.empty()) {
    WriteText(stdout, FullHelp(app));
    return kExitOk;
  }
  const Command* c = FindCommand(name);
  if (!c)
    return UsageError(
        InLanguage(L"no command ", L"そのコマンドはありません: ") + FromUtf8(name.c_str()),
        L"help");
  WriteText(stdout, HelpOf(app, *c));
  return kExitOk;
}

extern const Command kHelpCommand = {
    "help",
    "palvo help [COMMAND]",
    "this help, or one command's",
    "Prints this help, or one command's: palvo help get is palvo get --help.",
    false,
    &AddOptions,
    nullptr,
    nullptr};
