#include "port/config_directory.h"

std::u16string portDefaultConfigDirectory() { return u"/usr/vel/mox/config"; }
