// The four tables of --top as data: what TopTable::view() returns, laid out
// as text by TopTable::render() and as JSON by the live page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace moxcollect {

struct TopTimingRow {
  std::string process;
  std::string key;
  int64_t average = -1;  // latest interval; -1: no average line yet
  int64_t lastMax = -1;
  int64_t lastCount = 0;
  int64_t maxSeen = -1;  // since the start
  uint64_t finishedTotal = 0;
  int64_t lastFinished = 0;
  int64_t active = 0;
};

struct TopResourceRow {
  std::string process;
  std::string name;
  int64_t current = 0;
  int64_t high = 0;
  int64_t low = 0;
};

struct TopView {
  // Over the whole table, whatever the filter.
  uint64_t metricLines = 0;
  uint64_t traces = 0;
  size_t timingKeys = 0;
  size_t resources = 0;
  std::vector<std::string> processes;  // every process with a row, in name order

  // At most `rows` each; the first two hold only keys with an average.
  std::vector<TopTimingRow> slowestByAverage;  // average, descending
  std::vector<TopTimingRow> slowestByMaximum;  // maxSeen, descending
  std::vector<TopTimingRow> busiest;           // finishedTotal, descending
  std::vector<TopResourceRow> resourceRows;    // by process, then name
};

}  // namespace moxcollect
