// The PIN kept scrambled in the registry value PalvoPass under the driver key.
#pragma once

#include "link/state.h"

DWORD Mix32(DWORD a);
DWORD Unmix32(DWORD x);
DWORD ScramblePin(DWORD plain);  // with the current installation key
DWORD UnscramblePin(DWORD stored);
void DeriveInstallationKey();
void ReadStoredPin();
void WriteStoredPin();
bool DeleteStoredPin();  // true when there was one to delete

// The key DeriveInstallationKey computes for the program file at path (its
// times when it can be opened, then the path with ASCII letters folded).
DWORD InstallationKeyFor(const WCHAR* path);
// WriteStoredPin with the salt byte given instead of taken from the tick count.
void WriteStoredPinWithSalt(BYTE salt);
