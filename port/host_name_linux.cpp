#include <unistd.h>

#include "port/host_name.h"

bool portHostName(char* name, size_t size) {
  if (gethostname(name, size) != 0) return false;
  name[size - 1] = '\0';  // a cut name need not be terminated
  return true;
}
