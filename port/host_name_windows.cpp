// The DNS host name, which needs no started socket layer (unlike gethostname).
#include <windows.h>

#include "port/host_name.h"

bool portHostName(char* name, size_t size) {
  DWORD chars = static_cast<DWORD>(size);
  if (!GetComputerNameExA(ComputerNameDnsHostname, name, &chars)) return false;
  name[size - 1] = '\0';
  return true;
}
