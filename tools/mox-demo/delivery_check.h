// Did the library's data reach the collector? The library reports no failure
// to its host; it writes its connection attempts into its trace file, which
// is read here after the run.
#pragma once

#include <string>

enum class Delivery {
  Reached,       // every connection was made and every send went through
  NothingThere,  // not one connection could be made: nothing was listening
  PartlyLost,    // connected, but a connection failed or broke during the run
  BadHost,       // the collector's host name did not resolve
};

// Reads the text of the library's trace file of one run.
Delivery deliveryFromTraceText(const std::string& traceText);
