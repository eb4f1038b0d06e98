#include "expat_rate.h"

#include <expat.h>
#include <time.h>

#include <chrono>
#include <string>

namespace moxload {

namespace {

struct Depth {
  int depth = 0;
  int64_t elements = 0;
};

void XMLCALL onStart(void* data, const XML_Char*, const XML_Char**) {
  auto* d = static_cast<Depth*>(data);
  if (++d->depth == 2) ++d->elements;  // depth 1 is the wrapping root
}

void XMLCALL onEnd(void* data, const XML_Char*) { --static_cast<Depth*>(data)->depth; }

double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The stream is a sequence of elements; expat wants one document, so the
// parse is opened with a root element that never closes.
bool parse(XML_Parser parser, const std::string& text, ParseResult& result) {
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = threadCpuSeconds();
  const bool ok = XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_FALSE) == XML_STATUS_OK;
  result.cpuSeconds += threadCpuSeconds() - cpuStart;
  result.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return ok;
}

}  // namespace

ParseResult expatParseRate(const SendPlan& plan) {
  ParseResult result;
  Depth depth;
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &depth);
  XML_SetElementHandler(parser, onStart, onEnd);
  const std::string root = "<stream>";
  std::string text = root;
  for (int p = 0; p < plan.shape.processes; ++p) appendVersionLine(text, p);
  bool ok = parse(parser, text, result);
  result.bytes += static_cast<int64_t>(text.size() - root.size());
  for (int interval = 0; ok && interval < plan.intervals; ++interval) {
    text.clear();
    for (int p = 0; p < plan.shape.processes; ++p) appendInterval(text, plan.shape, p, interval);
    ok = parse(parser, text, result);
    result.bytes += static_cast<int64_t>(text.size());
  }
  XML_ParserFree(parser);
  result.ok = ok;
  result.elements = depth.elements;
  return result;
}

}  // namespace moxload
