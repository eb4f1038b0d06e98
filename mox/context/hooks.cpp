// Storage of the seams owned by this room, and the helpers that call them.
#include "mox/context/passport_hooks.h"
#include "mox/context/trace_builder_hooks.h"

#include "mox/context/context.h"
#include "mox/trace/trace_data_manager.h"

namespace tracebuilders {
std::atomic<ContextTraceBuilder> buildTrace{nullptr};
std::atomic<ContextTraceBuilder> buildMaxComponentsSnapshot{nullptr};
std::atomic<ContextTraceBuilder> buildTooLargeSnapshot{nullptr};
std::atomic<ContextTraceBuilder> buildZombieTrace{nullptr};
}  // namespace tracebuilders

namespace passporthooks {
std::atomic<GuidSource> createGuid{nullptr};
std::atomic<PassportDetector> detectPassport{nullptr};
}  // namespace passporthooks

void queueContextTrace(const std::atomic<ContextTraceBuilder>& builder, const CMTContext& context) {
  ContextTraceBuilder build = builder.load(std::memory_order_acquire);
  if (build == nullptr) return;
  CMTTraceDataManager::getInstance()->addTrace(build(context));
}
