#pragma once

#include "link/state.h"

Message LogIn();
void SendGoodbye();
