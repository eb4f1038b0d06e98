// Dropping what a stdio stream holds in its buffer, without writing it (a
// forked child must not write the bytes its parent buffered).
#pragma once

#include <cstdio>

void portDiscardBuffered(FILE* stream);
