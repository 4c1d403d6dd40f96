#pragma once

#include "link/state.h"

// The hello, answered with "OK" by a handset in standby (a handset still
// busy with a broken transfer hears goodbye and the hello once more).
Message Greet();
// The PIN, accepted with "OK"; a refused one is forgotten.
Message SendPin();
// Greet, then SendPin.
Message LogIn();
void SendGoodbye();
