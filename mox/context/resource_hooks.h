// Seam for the resource counters that the registry's scan increases
// ("Empty Context Count", "Zombie Context Count"). Not set (nullptr, the
// default): nothing is counted.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

using ResourceIncrease = void (*)(const std::u16string& resourceName, int64_t amount);

namespace resourcehooks {
extern std::atomic<ResourceIncrease> increaseResource;
}  // namespace resourcehooks

// Calls the hook when it is set.
void increaseResourceCounter(const std::u16string& resourceName, int64_t amount);
