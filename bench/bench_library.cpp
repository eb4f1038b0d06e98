#include "bench_library.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "mox.h"

namespace {

bool initialised = false;
LibraryMode currentMode = LibraryMode::Plain;
LibrarySettings currentExtra;
std::string logdir;

const char16_t kProcessName[] = u"mox-bench";

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void init(LibraryMode mode, const LibrarySettings& extra) {
  if (logdir.empty()) {
    char dir[] = "/tmp/mox-bench-XXXXXX";
    if (mkdtemp(dir) != nullptr) logdir = dir;
  }
  // A long data interval: only the benchmark sends, through MOX_outputMetricData.
  LibrarySettings settings = {{u"datasending_method", u"file"},
                              {u"logdir", widen(logdir)},
                              {u"lib_trace_level", u"0"},
                              {u"datasending_interval", u"3600"}};
  if (mode == LibraryMode::Traced) {
    settings.insert(settings.end(), {{u"trace_enabled_via_em", u"1"}, {u"tracecheck_interval", u"0"}});
  }
  // A key given twice counts once: an extra setting replaces the set-up's own.
  for (const auto& [key, value] : extra) {
    auto same =
        std::find_if(settings.begin(), settings.end(), [&](const auto& setting) { return setting.first == key; });
    if (same == settings.end()) {
      settings.emplace_back(key, value);
    } else {
      same->second = value;
    }
  }
  std::vector<const mox_char*> pairs;
  for (const auto& [key, value] : settings) pairs.insert(pairs.end(), {key.c_str(), value.c_str()});
  MOX_ProcInitWithParam(kProcessName, 0, static_cast<uint32_t>(pairs.size() / 2), pairs.data());
  initialised = true;
  currentMode = mode;
  currentExtra = extra;
}

std::filesystem::path metricFile() { return std::filesystem::path(logdir) / "mox-bench_mtdata.log"; }

}  // namespace

bool useLibrary(LibraryMode mode, const LibrarySettings& extra) {
  if (initialised && currentMode == mode && currentExtra == extra) return false;
  endLibrary();
  init(mode, extra);
  return true;
}

LibrarySettings socketAgentSettings(unsigned port) {
  const std::string text = std::to_string(port);
  return {{u"datasending_method", u"socket"}, {u"agent_host", u"127.0.0.1"}, {u"agent_port", widen(text)}};
}

void drainTraces() {
  MOX_outputMetricData();
  emptyMetricFile();
}

uint64_t metricFileBytes() {
  std::error_code ignored;
  const std::uintmax_t size = std::filesystem::file_size(metricFile(), ignored);
  return size == static_cast<std::uintmax_t>(-1) ? 0 : size;
}

void emptyMetricFile() {
  std::error_code ignored;
  std::filesystem::resize_file(metricFile(), 0, ignored);
}

void endLibrary() {
  if (!initialised) return;
  MOX_ProcExit();
  initialised = false;
}
