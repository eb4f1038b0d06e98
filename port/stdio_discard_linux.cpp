#include <stdio_ext.h>

#include "port/stdio_discard.h"

void portDiscardBuffered(FILE* stream) { __fpurge(stream); }
