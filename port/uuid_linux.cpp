#include <uuid/uuid.h>

#include "port/uuid.h"

bool portTimeBasedUuid(uint8_t uuid[16]) {
  uuid_generate_time(uuid);
  return true;
}
