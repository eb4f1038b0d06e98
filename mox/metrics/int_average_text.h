// The IntAverage metric text of one performance record's values, apart from
// the record so that any values (counts past 2^31 included) can be printed
// and checked.
#pragma once

#include <string>
#include <string_view>

#include "mox/metrics/metric_format.h"
#include "mox/metrics/perf_record.h"

// The lines of the values of timing key `key` under format: Active Counter
// (when the scope counts it and the values are not marked skipped), Finished Counter,
// Finished with undefined state, then the averages the scope selects (none
// without times). Counts print as unsigned 32-bit decimals.
std::u16string intAverageText(const PerfValues& v, std::u16string_view key, const MetricFormat& format);
