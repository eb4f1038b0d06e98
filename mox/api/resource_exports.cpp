// Resources and KPIs. The frame (active test) is complete; the resource
// records arrive with their own change, and until then reports are dropped.
#include "mox/api/api_frame.h"

extern "C" {

void MOX_initializeResource(const mox_char* /*name*/, int64_t /*value*/, int16_t /*flag*/) {}
void MOX_increaseResource(const mox_char* /*name*/, int64_t /*amount*/) {}
void MOX_decreaseResource(const mox_char* /*name*/, int64_t /*amount*/) {}
void MOX_reportResource(const mox_char* /*name*/, int64_t /*current*/, int64_t /*high*/, int64_t /*low*/,
                        uint32_t /*count*/, int16_t /*flag*/) {}
void MOX_reportResourceKPI(const mox_char* /*name*/, const mox_char* /*kpiName*/, int64_t /*value*/) {}
void MOX_registerResourceCallBack(uint32_t /*id*/, MOX_ResourceCallBack /*callback*/, uint32_t /*interval*/,
                                  int32_t /*offset*/) {}
void MOX_deregisterResourceCallBack(uint32_t /*id*/) {}

}  // extern "C"
