// The PIN typed on a terminal without echo, natively.
#ifndef _WIN32

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/cli.h"

namespace {
termios g_savedTerminal;
volatile std::sig_atomic_t g_terminalQuiet = 0;  // echo is off for the PIN
}  // namespace

void PutBackTerminal() {
  if (g_terminalQuiet) tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
}

int AskPinHidden() {
  termios quiet;
  const bool haveTerminal = tcgetattr(STDIN_FILENO, &g_savedTerminal) == 0;
  if (haveTerminal) {
    quiet = g_savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    g_terminalQuiet = 1;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  // Only now the prompt: a PIN typed as soon as it shows is neither echoed
  // nor dropped by the flush above.
  WriteText(stderr, PinPrompt());
  std::fflush(stderr);
  char line[kPinLineUnits * 4];
  const bool got = ReadByteLine(line, sizeof line);
  if (haveTerminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
    g_terminalQuiet = 0;
  } else {
    WriteText(stderr, "\n");
  }
  if (!got) {
    WriteText(stderr, "\n");
    return 0;
  }
  TakePin(FromUtf8(line).c_str());
  std::memset(line, 0, sizeof line);
  return 1;
}

#endif
