#include "mox/agents/process_name_source.h"

#include <atomic>

namespace {
std::atomic<ProcessNameSource> processNameSource{nullptr};
}

void setProcessNameSource(ProcessNameSource source) { processNameSource.store(source, std::memory_order_release); }

std::u16string currentProcessName() {
  ProcessNameSource source = processNameSource.load(std::memory_order_acquire);
  return source ? source() : std::u16string();
}
