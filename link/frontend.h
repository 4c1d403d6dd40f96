// What the core asks of the front end (the window or the terminal). Each front
// end implements these once; tests link a scripted version.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// PIN entry: 1 with g_currentPin set to the typed number, 0 when cancelled.
int AskPin(HWND owner);

// Status box modes: kKeepOpenMode keeps it open (the busy text); kResultMode
// shows the text for 1500 ms and closes it.
enum StatusMode : int { kResultMode = 0, kKeepOpenMode = 1 };

// Shows text in the status box in mode. A null or empty text closes an open
// box at once.
void ShowStatus(const WCHAR* text, int mode);

// Bytes of a streamed transfer so far, out of total (0 when unknown). Called
// once per piece; a front end may ignore it.
void ShowProgress(std::uint64_t done, std::uint64_t total);
