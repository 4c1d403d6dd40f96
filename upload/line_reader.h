#pragma once

#include "link/state.h"

constexpr int kLineWindow = 4096;

// Next line of `file` from the line buffer window, or null at the end.
// A null handle resets the reader.
char* ReadLine(HANDLE file);
int LineReadPosition();  // index of the first unread byte in the window

// The file offset of the first unread byte, counted from where the file stood
// at the reset. Unlike LineReadPosition() it stays exact across refills.
long long LineFileOffset();

// The number of the file's line the last ReadLine returned (1 for the first;
// the pieces of a line longer than the window share its number); 0 after a
// reset. Checks of a local file report where they stopped with it.
int LineNumber();

// The last line came out as a whole window without LF: the file may hold more
// of it.
bool LastLineFilledWindow();
