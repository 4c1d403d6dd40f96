// Process-wide state shared by the link, download, upload and ui code. One
// UI thread owns all of it; nothing here is locked.
#pragma once

#include <csignal>

#include "platform/win32.h"

constexpr int kPathUnits = MAX_PATH;  // 260 UTF-16 units, terminator included
constexpr int kBufferBytes = 4097;    // packet and line buffers: 4096 + a zero byte
constexpr DWORD kNoPin = 10000;       // current PIN when none is known

extern HANDLE g_port;       // open serial port, INVALID_HANDLE_VALUE when closed
extern BYTE* g_packet;      // current response frame / upload work area
extern BYTE* g_lineBuffer;  // line reader window
extern DWORD g_currentPin;
extern DWORD g_installationKey;
extern WCHAR g_driverKeyPath[kPathUnits];  // relative to HKEY_LOCAL_MACHINE; empty = none
extern WCHAR g_portName[kPathUnits];
extern WCHAR g_lastPath[kPathUnits];
extern bool g_connected;   // a listing has been fetched
extern HWND g_mainWindow;  // owner of dialogs (null in the command line)
extern HWND g_listView;    // the listing
// The user asked the running command to stop (the signal's number, 0 when
// not): the front end sets it from its signal or console handler, the
// transfers stop at their next piece or item, and the operation still ends
// with goodbye and the port closed.
extern volatile std::sig_atomic_t g_stopRequest;
// While a set upload (bookmarks, address book) runs between its start and end
// requests, which set (kHoldBookmarks, kHoldAddressBook), else 0: the handset
// cleared the set at the start, so a stop request waits until the set is whole
// again rather than leave half of it.
extern volatile std::sig_atomic_t g_stopHeld;
constexpr int kHoldBookmarks = 1;
constexpr int kHoldAddressBook = 2;

// What the last failed step could not use: the local file it could not
// write or the port it could not open (as the core named it), and the
// system's error (GetLastError). Front ends name both with the step's
// message. Empty path: none known.
extern WCHAR g_problemPath[kPathUnits];
extern DWORD g_problemError;
void NoteProblem(const WCHAR* path, DWORD error);

// Allocates the two 4097-byte buffers once (later calls do nothing) and resets
// the rest of the state to its start-up values.
void InitProcessState();

// An operation step's result: null is success, L"" a silent stop (cancelled
// PIN entry), anything else a message for the user.
typedef const WCHAR* Message;
