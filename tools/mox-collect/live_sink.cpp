#include "live_sink.h"

#include "json_sink.h"

namespace moxcollect {

void LiveSink::write(const Record& record) {
  if (record.kind != RecordKind::Trace) {
    std::lock_guard<std::mutex> lock(mutex_);
    table_.add(record);
    return;
  }
  // The slow part, outside the lock the page's threads wait on.
  TraceSummary summary = summarizeTrace(record);
  std::string json = recordJson(record);
  std::lock_guard<std::mutex> lock(mutex_);
  table_.add(record);
  ring_.add(std::move(summary), std::move(json));
}

TopView LiveSink::tables(size_t rows, const std::string& process) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return table_.view(rows, process);
}

std::vector<TraceSummary> LiveSink::traces(size_t limit, const std::string& process) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ring_.latest(limit, process);
}

std::optional<std::string> LiveSink::traceJson(uint64_t id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string* json = ring_.json(id);
  if (json == nullptr || json->empty() || json->front() != '{') return std::nullopt;
  return "{\"id\":" + std::to_string(id) + "," + json->substr(1);
}

}  // namespace moxcollect
