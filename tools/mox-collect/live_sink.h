// --http: keeps what the live page shows, the --top tables and the latest
// traces, and hands it to the page's threads. The sink writer thread feeds
// it (write()); tables(), traces() and traceJson() may be called from any
// thread at any time.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "record_sink.h"
#include "top_table.h"
#include "trace_ring.h"

namespace moxcollect {

class LiveSink : public RecordSink {
 public:
  LiveSink(size_t traceCapacity, size_t maxKeys = TopTable::kDefaultMaxKeys,
           size_t traceBytes = TraceRing::kDefaultMaxBytes)
      : table_(maxKeys), ring_(traceCapacity, traceBytes) {}

  void write(const Record& record) override;
  bool readsRaw() const override { return false; }

  TopView tables(size_t rows, const std::string& process) const;
  std::vector<TraceSummary> traces(size_t limit, const std::string& process) const;
  // The trace as --json writes it, with its "id" first; empty once it has left the ring.
  std::optional<std::string> traceJson(uint64_t id) const;

 private:
  mutable std::mutex mutex_;
  TopTable table_;
  TraceRing ring_;
};

}  // namespace moxcollect
