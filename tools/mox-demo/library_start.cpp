#include "library_start.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "mox.h"

namespace {

// perf_metric_scope 4 adds every line the default scope 0 leaves out: the
// Active Counter, CPU times and net times (without the children's).
constexpr const mox_char* kEveryMetricLine = u"4";

// The demo's texts are ASCII (the command line refuses others).
std::u16string widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// A parameter as the library spells it in file names: other characters than
// ASCII become '#'.
std::string parameter(const mox_char* name) {
  mox_char buffer[1024];
  const uint32_t length = MOX_getSingleParameterValue(name, buffer, sizeof buffer / sizeof buffer[0]);
  if (length >= sizeof buffer / sizeof buffer[0]) return std::string();  // longer than any value the demo reads
  std::string value;
  for (uint32_t i = 0; i < length; ++i) value += buffer[i] < 0x80 ? static_cast<char>(buffer[i]) : '#';
  return value;
}

}  // namespace

std::string LibrarySettings::collectorAddress() const {
  const bool v6 = agentHost.find(':') != std::string::npos;
  return (v6 ? "[" + agentHost + "]" : agentHost) + ":" + agentPort;
}

void startLibrary(const DemoOptions& options) {
  if (options.defaultStart) {
    MOX_ProcInit(u"mox-demo", 0);
    return;
  }
  std::error_code ignored;  // a directory that cannot be made shows in the summary
  std::filesystem::create_directory(options.logdir, ignored);
  const std::u16string logdir = widen(options.logdir);
  const std::u16string host = widen(options.collectorHost);
  const std::u16string port = widen(options.collectorPort);
  const bool toCollector = !options.collectorHost.empty();
  // An IPv6 collector needs the library's IPv6 switch, unless the caller set it.
  if (options.collectorHost.find(':') != std::string::npos && std::getenv("VEL_IPv6_ACTIVE") == nullptr) {
    static char ipv6On[] = "VEL_IPv6_ACTIVE=1";  // putenv keeps the text: static
    putenv(ipv6On);
  }
  std::vector<const mox_char*> pairs = {u"datasending_method",
                                        toCollector ? u"socket" : u"file",
                                        u"logdir",
                                        logdir.c_str(),
                                        u"lib_trace_level",
                                        u"1",
                                        u"tracecheck_interval",
                                        u"2",
                                        u"perf_metric_scope",
                                        kEveryMetricLine};
  if (toCollector) {
    for (const mox_char* p : {u"agent_host", host.c_str(), u"agent_port", port.c_str()}) pairs.push_back(p);
  }
  MOX_ProcInitWithParam(u"mox-demo", 0, static_cast<uint32_t>(pairs.size() / 2), pairs.data());
}

LibrarySettings readLibrarySettings() {
  LibrarySettings s;
  s.method = parameter(u"datasending_method");
  s.logdir = parameter(u"logdir");
  s.agentHost = parameter(u"agent_host");
  s.agentPort = parameter(u"agent_port");
  s.scope = std::atoi(parameter(u"perf_metric_scope").c_str());
  return s;
}
