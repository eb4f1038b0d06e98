// Windows has no fork: a new process starts from its image, never from a copy.
#include "port/fork.h"

bool portOnForkChild(void (*)()) { return true; }
