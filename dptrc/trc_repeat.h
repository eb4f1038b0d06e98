// Bounding the repeats of host-caused trace lines (TrcRepeatSite). Every
// function expects the caller to hold the trace lock.
#pragma once

#include <ctime>
#include <string_view>

#include "dptrc/dptrc.h"

// Writes, through handle, one "... repeated N times" line for each trace
// point whose counted lines belong to another second than now (every one
// of them when closing). Cheap when nothing is pending. A writer passes the
// same now to both calls, so that no count is lost between them.
void trcReportRepeats(TrcHandle handle, time_t now, bool closing) REQUIRES(trcLock);
// Whether a line with this message (the formatted text, without prefix and
// thread tag) may be written now; when not, it is counted for the report.
bool trcRepeatAdmit(TrcRepeatSite& site, std::u16string_view message, time_t now) REQUIRES(trcLock);
// The second a writer passes to both calls above; the clock is read only
// for a host trace point or while reports are pending.
time_t trcRepeatSecond(const TrcRepeatSite* site) REQUIRES(trcLock);
// Forgets the counts of every trace point (the file is closed).
void trcForgetRepeats() REQUIRES(trcLock);
