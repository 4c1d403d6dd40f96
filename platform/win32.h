// The one include for Win32 names. On Windows it is the real API (on desktop
// Windows with the registry stand-in of platform/win32 for what only the
// handheld has); on Linux our small stand-in under platform/posix provides
// the subset the core uses.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
// windows.h must come first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#ifndef _WIN32_WCE
#include "win32/desktop_registry.h"
#include "win32/private_folder.h"
#else
// The handheld's files have no security to give.
inline SECURITY_ATTRIBUTES* OwnerOnlySecurity() { return nullptr; }
#endif
// The infrared escape of the handheld's serial API; desktop headers lack it.
#ifndef SETIR
#define SETIR 10
#endif
#else
#include "posix/win32_posix.h"
#endif
