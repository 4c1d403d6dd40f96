// One window of a local text file in the line buffer, handed out line by line.
#include "upload/line_reader.h"

#include <cstring>

static int s_readPos = kLineWindow;  // first byte no line has covered yet
static int s_fill = kLineWindow;     // file bytes in the window
// File offset of the window's first byte, from where the file stood at the
// reset; the reset acts as a used-up window just before that place.
static long long s_windowOffset = -kLineWindow;
static bool s_lastFilledWindow = false;  // the last line had no LF in a full window

static void ResetReader() {
  s_readPos = kLineWindow;
  s_fill = kLineWindow;
  s_windowOffset = -kLineWindow;
  s_lastFilledWindow = false;
  g_lineBuffer[kLineWindow] = 0;
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
    return reinterpret_cast<char*>(buf + start);
  }
  if (s_fill < kLineWindow) {
    // The last read came up short: the file is used up.
    return start == s_fill ? nullptr : reinterpret_cast<char*>(buf + start);
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
  return s_readPos == 0 ? nullptr : reinterpret_cast<char*>(buf);
}

int LineReadPosition() { return s_readPos; }

long long LineFileOffset() { return s_windowOffset + s_readPos; }

bool LastLineFilledWindow() { return s_lastFilledWindow; }
