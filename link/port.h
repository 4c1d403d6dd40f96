#pragma once

#include "link/state.h"

// The handset's USB ids (vendor 0x0482, product 0x0203) as its driver's key
// names them: decimal, "vendor_product".
#define PALVO_HANDSET_USB_IDS L"1154_515"

// Finds the handset driver in HKLM\Drivers\Active, obtains the PIN and opens
// the port with the protocol's time-outs.
Message OpenHandsetPort();

// The port open was found by the search, and a later entry names the
// handset's driver too.
bool LaterHandsetEntry();
// The port opened by a search did not answer as the handset: closes it and
// opens the next entry that names the handset's driver and can be opened
// (the same PIN goes there). False, with g_port closed, when none can.
bool OpenNextHandsetPort();

// Closes g_port (if open) and marks it closed.
void ClosePort();

// A serial port the user named (the command line's --port), opened instead of
// the one the registry search finds; empty: search. The driver key, where the
// PIN is kept, is then that of a handset driver in HKLM\Drivers\Active that
// publishes this very port, or none (no PIN is read, stored or deleted).
extern WCHAR g_givenPort[kPathUnits];

// Where OpenHandsetPort takes the PIN from.
enum class PinSource {
  kStored,       // the stored PIN; AskPin when there is none, and that PIN is stored
  kAskAndStore,  // always AskPin; the caller stores it once the handset accepted it
  kGiven,        // always AskPin (a PIN the front end has); the stored PIN is left alone
};
extern PinSource g_pinSource;

// The registry part of OpenHandsetPort alone: fills g_driverKeyPath and
// g_portName (honouring g_givenPort). False when no handset driver is found
// (with a given port: none publishes it).
bool FindHandsetDriver();

// Deletes the stored PIN under every handset driver key: the one the registry
// search finds, and those the device manager keeps for the handset whether it
// is plugged in or not (Drivers\USB\LoadClients\1154_515_*\*\RS232_USB).
// The number of PINs deleted.
int ForgetStoredPins();
