#include "mox/metrics/cache_section.h"

CCacheSection::CCacheSection(uint16_t sectionNumber) : number(sectionNumber) {
  ThrRwLockInit(&perfLock);
  ThrRwLockInit(&resourceLock);
}

CCacheSection::~CCacheSection() {
  perfRecords.clear();
  resourceRecords.clear();
  if (perfLock) ThrRwLockDelete(perfLock);
  if (resourceLock) ThrRwLockDelete(resourceLock);
}
