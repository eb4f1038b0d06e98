// Resources, KPIs and the host's resource callbacks.
#include "common/clock.h"
#include "common/utf.h"
#include "mox/api/api_frame.h"
#include "mox/config/configuration.h"
#include "mox/metrics/perf_data_manager.h"

namespace {

using namespace moxapi;

// Applies update to the named resource of the current interval; a null name
// names no resource.
template <typename Update>
void updateResource(const mox_char* name, Update&& update) {
  guardedVoid([&] {
    if (!isActive() || name == nullptr) return;
    library().metrics().withResourceRecord(utf16View(name), update);
  });
}

}  // namespace

extern "C" {

void MOX_initializeResource(const mox_char* name, int64_t value, int16_t flag) {
  updateResource(name, [&](CResourceRecord& record) { record.initialize(value, flag); });
}

void MOX_increaseResource(const mox_char* name, int64_t amount) {
  updateResource(name, [&](CResourceRecord& record) { record.increase(amount); });
}

void MOX_decreaseResource(const mox_char* name, int64_t amount) {
  updateResource(name, [&](CResourceRecord& record) { record.decrease(amount); });
}

void MOX_reportResource(const mox_char* name, int64_t current, int64_t high, int64_t low, uint32_t count,
                        int16_t flag) {
  updateResource(name, [&](CResourceRecord& record) { record.report(current, high, low, count, flag); });
}

void MOX_reportResourceKPI(const mox_char* name, const mox_char* kpiName, int64_t value) {
  if (kpiName == nullptr) return;
  updateResource(name, [&](CResourceRecord& record) { record.setKpi(utf16Copy(kpiName), value); });
}

void MOX_registerResourceCallBack(uint32_t id, MOX_ResourceCallBack callback, uint32_t interval, int32_t offset) {
  guardedVoid([&] {
    if (!isActive()) return;
    const uint32_t sendingInterval = library().config().getDatasendingInterval();
    library().metrics().resourceCallbacks().registerCallback(id, callback, interval, offset, wallSeconds(),
                                                             sendingInterval);
  });
}

void MOX_deregisterResourceCallBack(uint32_t id) {
  guardedVoid([&] {
    if (!isActive()) return;
    library().metrics().resourceCallbacks().deregisterCallback(id);
  });
}

}  // extern "C"
