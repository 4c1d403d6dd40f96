// The operation sequence every command that talks to the handset runs:
// open, [busy box], log in, transfer, goodbye, close, report.
#pragma once

#include "link/state.h"

typedef Message (*Transfer)(void* context);

// Runs one operation and reports its first message through ShowStatus in
// result mode; returns that message. busy shows "通信中です" in keep-open mode
// once the port is open (downloads and uploads).
Message RunOperation(Transfer transfer, void* context, bool busy);

// The get-listing command: clears the connected flag, empties the listing, then
// runs FetchListing as the transfer.
Message GetListingCommand();
