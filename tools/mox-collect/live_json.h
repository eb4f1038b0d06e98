// The JSON bodies of the live page's API (documented in README.md):
// /api/tables from a TopView, /api/traces from trace summaries.
#pragma once

#include <string>
#include <vector>

#include "top_view.h"
#include "trace_ring.h"

namespace moxcollect {

std::string tablesJson(const TopView& view);
std::string tracesJson(const std::vector<TraceSummary>& traces, size_t capacity);

}  // namespace moxcollect
