// The one include for Win32 names. On Windows it is the real API; on Linux our
// small stand-in under platform/posix provides the subset the core uses.
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
#else
#include "posix/win32_posix.h"
#endif
