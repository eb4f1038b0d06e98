// Storage of the seams owned by this room, and the helpers that call them.
#include "mox/context/passport_hooks.h"
#include "mox/context/resource_hooks.h"

namespace resourcehooks {
std::atomic<ResourceIncrease> increaseResource{nullptr};
}  // namespace resourcehooks

namespace passporthooks {
std::atomic<GuidSource> createGuid{nullptr};
std::atomic<PassportDetector> detectPassport{nullptr};
}  // namespace passporthooks

void increaseResourceCounter(const std::u16string& resourceName, int64_t amount) {
  ResourceIncrease increase = resourcehooks::increaseResource.load(std::memory_order_acquire);
  if (increase != nullptr) increase(resourceName, amount);
}
