#pragma once

#include "link/state.h"

constexpr int kLineWindow = 4096;

// Next line of `file` from the line buffer window, or null at the end.
// A null handle resets the reader.
char* ReadLine(HANDLE file);
int LineReadPosition();  // index of the first unread byte in the window

// True while every line handed out since the reset ended inside the file's
// first window: no second fill and no line cut at the window's end. Only then
// is LineReadPosition() the file offset of the next unread byte.
bool LinesWithinFirstWindow();
