#include "mox/metrics/cache_section.h"

#include "thr/thr_guards.h"

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

SectionContent CCacheSection::takeContent() {
  SectionContent taken;
  ThrExclusiveGuard perf(perfLock);
  ThrExclusiveGuard resources(resourceLock);
  taken.perfRecords.swap(perfRecords);
  perfIndex.clear();
  taken.resourceRecords.swap(resourceRecords);
  return taken;
}
