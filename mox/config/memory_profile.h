// Parameters given in memory (the built-in defaults, or the pairs of the
// parameter initialisation) as one configuration source.
#pragma once

#include <vector>

#include "mox/config/parameter.h"

namespace moxprofile {

// The table of entries, in order; a key given twice keeps its first entry.
ParameterMap memoryProfile(const std::vector<CParameter>& entries);

}  // namespace moxprofile
