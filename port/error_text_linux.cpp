#include <string.h>

#include "port/error_text.h"

const char* portErrorText(int error) { return strerrordesc_np(error); }
