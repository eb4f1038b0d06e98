#include <pthread.h>

#include "port/fork.h"

bool portOnForkChild(void (*handler)()) { return pthread_atfork(nullptr, nullptr, handler) == 0; }
