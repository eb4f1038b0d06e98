// Starting the library as the options ask, and reading back the settings it
// runs with (they decide where the output goes).
#pragma once

#include <string>

#include "demo_options.h"

// What the library was configured with, as MOX_getSingleParameterValue tells
// (only while it is initialised).
struct LibrarySettings {
  std::string method;  // datasending_method: "socket" streams to collectors, anything else writes a file
  std::string logdir;
  std::string agentHost;
  std::string agentPort;
  int scope = 0;  // perf_metric_scope: 0 has no Active Counter, CPU or net time lines

  bool streams() const { return method == "socket"; }
  // "host:port", with brackets around an IPv6 address.
  std::string collectorAddress() const;
};

// Without configuration (--default-start: MOX_ProcInit alone), or with the
// demo's own parameters: file output or one collector, every metric line.
void startLibrary(const DemoOptions& options);

LibrarySettings readLibrarySettings();
