// The rearrangement behind CreateGuidString, exposed for its tests.
#pragma once

#include <cstdint>
#include <string>

// uuid: a time-based UUID in big-endian byte order (time low, time mid, time
// high with version, clock sequence high with variant, clock sequence low,
// node). Sets guid to the 32 upper-case hexadecimal digits of its
// rearrangement; false (guid untouched) unless the variant bits are 10 and
// the version is 1.
bool eppGuidFromUuid(const uint8_t uuid[16], std::u16string& guid);
