#include <windows.h>

#include "port/spin_wait.h"

void portYieldThread() { SwitchToThread(); }
