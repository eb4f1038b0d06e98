#include "bench_library.h"

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mox.h"

namespace {

bool initialised = false;
LibraryMode current = LibraryMode::Plain;
std::string logdir;

const char16_t kProcessName[] = u"mox-bench";

std::u16string widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void init(LibraryMode mode) {
  if (logdir.empty()) {
    char dir[] = "/tmp/mox-bench-XXXXXX";
    if (mkdtemp(dir) != nullptr) logdir = dir;
  }
  const std::u16string dir = widen(logdir);
  std::vector<const mox_char*> pairs = {u"datasending_method", u"file", u"logdir", dir.c_str(),
                                        u"lib_trace_level",    u"0"};
  if (mode == LibraryMode::Traced) {
    pairs.insert(pairs.end(), {u"trace_enabled_via_em", u"1", u"tracecheck_interval", u"0"});
  }
  MOX_ProcInitWithParam(kProcessName, 0, static_cast<uint32_t>(pairs.size() / 2), pairs.data());
  initialised = true;
  current = mode;
}

}  // namespace

void useLibrary(LibraryMode mode) {
  if (initialised && current == mode) return;
  endLibrary();
  init(mode);
}

void drainTraces() {
  MOX_outputMetricData();
  std::error_code ignored;
  std::filesystem::resize_file(std::filesystem::path(logdir) / "mox-bench_mtdata.log", 0, ignored);
}

void endLibrary() {
  if (!initialised) return;
  MOX_ProcExit();
  initialised = false;
}
