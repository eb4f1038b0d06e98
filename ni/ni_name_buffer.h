// The process-wide buffer of resolved host names, created on first use.
//
// It keeps each looked-up name with its address, or with the fact that it
// did not resolve, so that a name failing again and again costs neither a
// look-up nor a trace line each time. Entries expire (resolved names after
// kNameBufferHitSeconds, failures after kNameBufferMissSeconds) so that a
// changed or repaired name is taken up again. Guarded by its own mutex
// ("NI param section"); the look-up itself runs outside it.
#pragma once

#include <cstdint>
#include <string>

#include "ni/ni.h"

constexpr int64_t kNameBufferHitSeconds = 600;
constexpr int64_t kNameBufferMissSeconds = 60;
constexpr size_t kNameBufferMaxEntries = 256;

enum class NiBuffered { none, resolved, failed };

// What the buffer holds for name (with IPv6 active or not) right now.
NiBuffered niNameBufferFind(const std::string& name, bool ipv6, NiHostAddr* addr);
void niNameBufferStore(const std::string& name, bool ipv6, bool resolved, const NiHostAddr& addr);

// Test hook: the seconds clock of the expiry (nullptr: the steady clock).
using NiSecondsClock = int64_t (*)();
void NiISetNameBufferClock(NiSecondsClock clock);
