// MOX_outputMetricData: the trace job and then the data job, in the caller's thread.
#include "mox/api/api_frame.h"
#include "mox/config/configuration.h"
#include "mox/dispatch/dispatcher_manager.h"

extern "C" void MOX_outputMetricData(void) {
  moxapi::guardedVoid([] {
    if (!moxapi::isActive()) return;
    MoxLibrary& library = moxapi::library();
    if (library.config().getDatasendingInterval() == 0) return;
    library.dispatcher().runTraceAndDataJobs();
  });
}
