// Seams for the transaction-trace builders, which come with a later change.
// Each builder turns a context into one trace text. A hook that is not set
// (nullptr, the default) means that trace is not produced.
#pragma once

#include <atomic>
#include <string>

class CMTContext;

using ContextTraceBuilder = std::u16string (*)(const CMTContext&);

namespace tracebuilders {
extern std::atomic<ContextTraceBuilder> buildTrace;
extern std::atomic<ContextTraceBuilder> buildMaxComponentsSnapshot;
extern std::atomic<ContextTraceBuilder> buildTooLargeSnapshot;
extern std::atomic<ContextTraceBuilder> buildZombieTrace;
}  // namespace tracebuilders

// Builds the trace with builder (when set) and adds it to the trace store.
void queueContextTrace(const std::atomic<ContextTraceBuilder>& builder, const CMTContext& context);
