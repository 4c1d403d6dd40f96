#pragma once

#include "link/state.h"

constexpr int kLineWindow = 4096;

// Next line of `file` from the line buffer window, or null at the end.
// A null handle resets the reader.
char* ReadLine(HANDLE file);
int LineReadPosition();  // index of the first unread byte in the window
