// Storage of the seams owned by this room.
#include "mox/context/passport_hooks.h"

namespace passporthooks {
std::atomic<GuidSource> createGuid{nullptr};
std::atomic<PassportDetector> detectPassport{nullptr};
}  // namespace passporthooks
