// The PIN typed on the console without echo, on Windows.
#ifdef _WIN32

#include "cli/cli.h"

int AskPinHidden() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  GetConsoleMode(in, &mode);
  SetConsoleMode(in, (mode | ENABLE_LINE_INPUT) & ~ENABLE_ECHO_INPUT);
  WriteText(stderr, PinPrompt());
  WCHAR line[kPinLineUnits] = {};
  DWORD read = 0;
  const BOOL ok = ReadConsoleW(in, line, kPinLineUnits - 1, &read, nullptr);
  SetConsoleMode(in, mode);
  WriteText(stderr, "\n");
  if (!ok || read == 0 || line[0] == 0x1A) return 0;  // Ctrl+Z: end of input
  line[read < kPinLineUnits ? read : kPinLineUnits - 1] = 0;
  TakePin(line);
  SecureZeroMemory(line, sizeof line);
  return 1;
}

#endif
