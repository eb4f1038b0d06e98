// Where the system keeps the library's configuration file when nobody
// names a directory for it.
#pragma once

#include <string>

// Linux: /usr/vel/mox/config. Windows: vel\mox\config in the machine-wide
// application data directory (%ProgramData%, else C:\ProgramData).
std::u16string portDefaultConfigDirectory();
