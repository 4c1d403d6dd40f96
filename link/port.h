#pragma once

#include "link/state.h"

// Finds the handset driver in HKLM\Drivers\Active, obtains the PIN and opens
// the port with the protocol's time-outs.
Message OpenHandsetPort();

// Closes g_port (if open) and marks it closed.
void ClosePort();
