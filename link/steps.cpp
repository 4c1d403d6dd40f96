#include "link/steps.h"

StepHook g_stepHook = nullptr;
