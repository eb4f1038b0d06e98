#include "port/stdio_discard.h"

#include <stdio_ext.h>

void portDiscardBuffered(FILE* stream) { __fpurge(stream); }
