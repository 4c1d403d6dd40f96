// The program's entry: everything happens in PalvoMain (startup.cpp).
#include "ui/ui.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return PalvoMain(instance); }
