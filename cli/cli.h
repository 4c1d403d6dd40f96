// The command line's own helpers: text out to the terminal or a pipe, the
// list view it runs the core against, and local paths in the program's form.
#pragma once

#include <cstdio>
#include <string>

#include "link/state.h"

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSignalBase = 128;  // + the signal's number: stopped by it

// --- text (text.cpp) ---
// UTF-8 of wide text (UTF-16 on Windows, UTF-32 on Linux). With sanitize,
// control characters become '?': handset text must not drive the terminal
// nor break a line-oriented output.
std::string ToUtf8(const WCHAR* text, bool sanitize = false);
// The same, appended to out (a line buffer reused without new allocations).
void AppendText(std::string& out, const WCHAR* text, bool sanitize = false);
// Wide text of UTF-8 bytes; malformed sequences become U+FFFD.
std::wstring FromUtf8(const char* text);
// Columns the text takes on a terminal (East Asian wide characters take two).
int DisplayWidth(const WCHAR* text);
bool IsTerminal(std::FILE* stream);
// Writes text to stream: UTF-8 bytes, or the console's own wide output on a
// Windows console.
void WriteText(std::FILE* stream, const std::string& utf8);
void WriteText(std::FILE* stream, const WCHAR* text);
// "palvo: " + text + newline on stderr.
void Complain(const WCHAR* text);

// --- front end (frontend.cpp) ---
// Ends a progress line still on the terminal, so the next output starts clean.
void EndProgressLine();
// From now on Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl+C, Ctrl+Break and a
// closed console) set g_stopRequest to the signal's number; a second one ends
// the program at once.
void CatchStopSignals();
// Asks a yes/no question on the terminal: 1 yes, 0 no (or Ctrl-C, or the end
// of input), -1 when standard input is no terminal.
int AskOnTerminal(const std::string& question);

// --- host (host.cpp) ---
// The list view the core fills and reads (g_listView); null when none can be made.
HWND CreateListingView();
// A path argument in the program's form: absolute, with backslashes. Empty
// when it cannot be made.
std::wstring ProgramPath(const WCHAR* argument);
enum class PathKind { Missing, Folder, File, Other };
PathKind KindOfPath(const std::wstring& programPath);
// The folder part of a program path (up to, not including, its last backslash;
// the root stays "\" or "C:\").
std::wstring FolderOf(const std::wstring& programPath);
bool MakeFolder(const std::wstring& programPath);
