// The PIN kept scrambled in the registry value PalvoPass under the driver key.
#pragma once

#include "link/state.h"

DWORD Mix32(DWORD a);
DWORD Unmix32(DWORD x);
DWORD ScramblePin(DWORD plain);    // with the current installation key
DWORD UnscramblePin(DWORD stored);
void DeriveInstallationKey();
void ReadStoredPin();
void WriteStoredPin();
void DeleteStoredPin();
