// The few POSIX calls the export-level tests and their support make, on the
// Windows C runtime.
#pragma once

#include <direct.h>
#include <stdlib.h>
#include <string.h>

// A new directory from a template ending in XXXXXX.
inline char* mkdtemp(char* path) {
  if (_mktemp_s(path, strlen(path) + 1) != 0) return nullptr;
  return _mkdir(path) == 0 ? path : nullptr;
}

inline int setenv(const char* name, const char* value, int overwrite) {
  if (overwrite == 0 && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

// An empty value removes the variable.
inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

// Descriptor counting is not offered here: no descriptor reads as open.
#define F_GETFD 1
inline int fcntl(int, int) { return -1; }
