// Where desktop Windows looks for a DLL that a program names. A desktop has no
// handheld shell library, so a search for one would reach the current folder
// and PATH, where anybody can leave a DLL of that name.
#pragma once

#include <windows.h>

// Limits the search for every later load to the system folder and the
// program's own; called first thing in each program's entry point. A load by
// name must still say LOAD_LIBRARY_SEARCH_SYSTEM32 (LoadLibraryExW), which
// also holds where the default could not be set.
void RestrictDllSearch();
