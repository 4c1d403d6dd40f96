// One window of a local text file in the line buffer, handed out line by line.
#include "upload/line_reader.h"

#include <cstring>

static int s_readPos = kLineWindow;  // first byte no line has covered yet
static int s_fill = kLineWindow;     // file bytes in the window
// File offset of the window's first byte, from where the file stood at the
// reset; the reset acts as a used-up window just before that place.
static long long s_windowOffset = -kLineWindow;
static bool s_lastFilledWindow = false;  // the last line had no LF in a full window
static int s_lineNumber = 0;             // of the line handed out last
static bool s_lineEnded = true;          // that line ended with its LF

static void ResetReader() {
  s_readPos = kLineWindow;
  s_fill = kLineWindow;
  s_windowOffset = -kLineWindow;
  s_lastFilledWindow = false;
  s_lineNumber = 0;
  s_lineEnded = true;
  g_lineBuffer[kLineWindow] = 0;
}

// Counts the line about to be handed out (ending at the read position).
static char* HandOut(BYTE* line) {
  if (s_lineEnded) ++s_lineNumber;
  s_lineEnded = s_readPos > 0 && g_lineBuffer[s_readPos - 1] == '\n';
  return reinterpret_cast<char*>(line);
}

static void SkipToLineFeed() {
  const BYTE* const buf = g_lineBuffer;
  while (s_readPos < s_fill && buf[s_readPos] != '\n') ++s_readPos;
}

char* ReadLine(HANDLE file) {
  if (!file) {
    ResetReader();
    return nullptr;
  }
  BYTE* const buf = g_lineBuffer;
  const int start = s_readPos;
  s_lastFilledWindow = false;
  SkipToLineFeed();
  if (s_readPos < s_fill) {
    ++s_readPos;
    return HandOut(buf + start);
  }
  if (s_fill < kLineWindow) {
    // The last read came up short: the file is used up.
    return start == s_fill ? nullptr : HandOut(buf + start);
  }

  // The window is used up: keep its unread tail and fill up behind it.
  const int tail = kLineWindow - start;
  std::memmove(buf, buf + start, static_cast<std::size_t>(tail));
  s_readPos = tail;
  s_windowOffset += start;
  DWORD got = 0;
  ReadFile(file, buf + tail, static_cast<DWORD>(kLineWindow - tail), &got, nullptr);
  if (got > static_cast<DWORD>(kLineWindow - tail)) got = static_cast<DWORD>(kLineWindow - tail);
  s_fill = tail + static_cast<int>(got);
  buf[s_fill] = 0;
  SkipToLineFeed();
  if (s_readPos < s_fill) {
    ++s_readPos;
  } else if (s_fill == kLineWindow && s_readPos > 0) {
    s_lastFilledWindow = true;  // no LF in a full window: the line may go on
  }
  return s_readPos == 0 ? nullptr : HandOut(buf);
}

int LineReadPosition() { return s_readPos; }

long long LineFileOffset() { return s_windowOffset + s_readPos; }

bool LastLineFilledWindow() { return s_lastFilledWindow; }

int LineNumber() { return s_lineNumber; }
