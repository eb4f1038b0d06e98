// What the three sides of the table share: the case names, the keys of the
// round-robin case and how many pairs one iteration of a case makes.
//
// Every benchmark is named "<case>/<side>", side one of floor, peer, mox, so
// that the table (result_table.h) can put the sides of a case side by side.
#pragma once

#include <string>
#include <vector>

constexpr int kRoundRobinKeys = 100;
constexpr int kNestedPairs = 3;
// The minimum over this many two-thread runs on one shared key is reported.
constexpr int kSharedKeyRepetitions = 20;

// "m00" … "m99": the methods of the round-robin case.
std::vector<std::string> roundRobinMethods();
std::vector<std::u16string> roundRobinMethods16();

// One flat pair of the peer (peer_bench.cpp), for the allocation count.
void peerFlatPair();

// Three traced calls read the thread CPU clock twice each; the trace built at
// the end reads it no more (no call is running then).
constexpr int kCpuClockReadsPerTracedUnit = 6;
