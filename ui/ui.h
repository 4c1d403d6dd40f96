// The window program's own state and entry points, shared by the files of ui/.
// The state the core also uses (main window, list view, last path, connected
// flag) lives in link/state.h.
#pragma once

#include "link/frontend.h"
#include "link/state.h"

constexpr const WCHAR kClassName[] = L"Palvo";
constexpr const WCHAR kTitle[] = L"Palvo";

extern HINSTANCE g_instance;
extern HWND g_statusBox;  // the status box, null when none is open
extern HWND g_bar;        // command bar or Pocket PC menu bar
extern HMODULE g_shell;   // "aygshell.dll" when the menu bar is in use
extern HACCEL g_accelerators;

// Start-up: a running instance is brought forward (true: this one must end
// with 1), the main window is built, and the message loop runs until it quits.
bool BringRunningInstanceForward();
void StartUp(HINSTANCE instance);
int RunMessageLoop();
int PalvoMain(HINSTANCE instance);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void DownloadCommand();
void UploadCommand();

// The upload destination dialog on name (kPathUnits): the kind 1-4, 0 on cancel.
int RunDestinationDialog(WCHAR* name);
INT_PTR CALLBACK DestinationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// A message box with the stop icon, then the end of the program (exit code 0).
[[noreturn]] void FatalStartupMessage(const WCHAR* text);
