// The interval switch under load: with many distinct keys recorded in the
// interval, a host thread times flat pairs while MOX_outputMetricData
// detaches, formats and writes the interval on another thread. Reports the
// latency of those pairs (between switches and during one) and the time the
// write took, for the file agent and for the socket agent (a loopback
// listener that reads and discards), with how often the host thread waited
// or was preempted in each phase: on a shared machine a slow pair is more
// often the machine's doing than the library's.
#pragma once

#include <ostream>

struct IntervalSwitchOptions {
  int keys = 100000;
  int rounds = 3;
  // How long the host thread times pairs before the switch, in milliseconds.
  int betweenMs = 1000;
};

// False when a measurement did not happen (an agent wrote nothing, a phase
// timed no pair): the smoke run fails on it.
bool reportIntervalSwitch(std::ostream& out, const IntervalSwitchOptions& options);
