// The reference for the collector's ingest rate: expat alone parsing the same
// bytes the driver sends, counting the top-level elements.
#pragma once

#include <cstdint>

#include "load_sender.h"

namespace moxload {

struct ParseResult {
  bool ok = false;
  int64_t elements = 0;
  int64_t bytes = 0;
  double seconds = 0;     // parsing only; building the text is not timed
  double cpuSeconds = 0;  // the same on this thread's CPU clock, unaffected by other load
};

ParseResult expatParseRate(const SendPlan& plan);

}  // namespace moxload
