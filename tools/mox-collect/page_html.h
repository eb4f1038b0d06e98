// The live page as HTML, complete without scripts: the four tables, the
// latest traces and, when one is chosen, its call tree as nested rows. The
// page's script (page.js) takes the same markup over: it reads the columns
// from the data-field of each heading, refreshes, sorts and draws the
// timeline. Every text from a peer goes in escaped; there is no inline
// script or style, so the Content-Security-Policy can forbid them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "top_view.h"
#include "trace_ring.h"

namespace moxcollect {

struct PageState {
  std::string process;  // the filter; empty: every process
  uint64_t trace = 0;   // the trace shown; 0: none
};

// The text with &, <, >, " and ' as character references, and the control
// characters (which would vanish from sight) as numeric references.
std::string htmlEscaped(const std::string& text);

// traceJson: the chosen trace as LiveSink::traceJson() gives it, or none
// when it is not kept (the page says so).
std::string pageHtml(const TopView& view, const std::vector<TraceSummary>& traces, const PageState& state,
                     const std::optional<std::string>& traceJson);

}  // namespace moxcollect
