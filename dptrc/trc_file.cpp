// Opening, rotating and closing the trace file, and the component table.
#include <atomic>
#include <cstdio>
#include <cwctype>

#include "common/file_path.h"
#include "common/utf.h"
#include "dptrc/trc_early.h"
#include "dptrc/trc_output.h"
#include "dptrc/trc_repeat.h"
#include "dptrc/trc_time.h"
#include "port/file.h"

namespace {

const char kDashes[] = "---------------------------------------------------";  // 51
const char kRelease[] = "720";

std::atomic<uint64_t> fileSizeLimit{kTrcFileSizeLimit};

std::u16string_view baseName(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"/\\");
  return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

// Opens path for appending, emptied first when truncate; -1 when it cannot
// be opened. Child processes do not inherit it; a FIFO of that name without
// a reader cannot be opened (rather than an open that waits for one), and
// one whose reader stops reading cannot stop the host (port/file.h).
int openTraceFile(const std::u16string& path, bool truncate) {
  return portOpenForAppend(toNarrowFileName(path), truncate);
}

// Makes fd (already open on path), or standard error when fd is -1, the
// output out, and writes the header at every level (to standard error
// through its own output, see trcResolve).
void CTrcOpen(TrcOutput& out, const std::u16string& path, int fd) REQUIRES(trcLock) {
  TrcState& state = trcState();
  state.processSecond = 0;
  out = TrcOutput{};
  TrcOutput& written = fd < 0 ? state.standardError : out;
  PortFileStatus info;
  if (fd < 0) {
    out.standardError = true;
    trcEmitAscii("*** ERROR => CTrcOpen: fopen " + toNarrowFileName(path) + "\n");
  } else {
    out.fd = fd;
    out.regularFile = portFileStatus(fd, &info) && info.regular;
    out.bytes = out.regularFile ? info.size : 0;
  }
  trcEmitAscii(std::string("\n") + kDashes + "\ntrc file: \"" + utf16ToUtf8Lenient(baseName(path)) +
               "\", trc level: " + std::to_string(TrcLevel.load(std::memory_order_relaxed)) + ", release: \"" +
               kRelease + "\"\n" + kDashes + "\n");
  trcFlush(written);
  out.headerEnd = out.bytes;
}

void closeOutput(TrcState& state) REQUIRES(trcLock) {
  trcFlushDropNote(state.file);
  if (state.file.fd >= 0) portClose(state.file.fd);
  state.file = TrcOutput{};
  state.filePath.clear();
}

// Makes path the trace file: fd when the caller opened it already, else path
// opened here; standard error when it cannot be opened.
void startFile(const std::u16string& path, int fd, bool truncate, int level) REQUIRES(trcLock) {
  trcRegisterForkHandler();
  TrcState& state = trcState();
  closeOutput(state);  // a second open must not leak the first descriptor
  TrcLevel.store(level, std::memory_order_relaxed);
  CTrcOpen(state.file, path, fd >= 0 ? fd : openTraceFile(path, truncate));
  state.filePath = path;
  const int keyStatus = ThrKeyCreate(&state.secondKey, nullptr);
  if (keyStatus == THR_OK || keyStatus == THR_KEY_EXISTS) trcFreeThreadRecord();
}

}  // namespace

bool TrcOpenFile(const std::u16string& path, bool truncate, int level) {
  TrcLockGuard lock;
  startFile(path, -1, truncate, level);
  return trcState().file.fd >= 0;
}

int CTrcNewComp(char16_t letter, TrcHandle* handle, void* hook) {
  TrcLockGuard lock;
  TrcState& state = trcState();
  const char* failure = nullptr;
  if (!state.file.isOpen()) {
    failure = "*** ERROR => CTrcNewComp: not initialized\n";
  } else if (state.nextComp >= kTrcMaxComps) {
    failure = "*** ERROR => CTrcNewComp: too many comps\n";
  }
  if (failure != nullptr) {
    trcEmitAscii(failure);
    trcFlush(state.standardError);
    if (handle != nullptr) *handle = nullptr;
    return -1;
  }
  TrcComp& comp = state.comps[state.nextComp++];
  comp.letter = static_cast<char16_t>(towupper(letter));
  comp.level = comp.letter == u'M' ? 3 : 1;
  comp.depth = 0;
  comp.hook = hook;
  if (handle != nullptr) *handle = &comp;
  return 0;
}

void trcRotateIfFull(TrcOutput& out) {
  TrcState& state = trcState();
  if (&out != &state.file || !out.regularFile ||
      (out.bytes < fileSizeLimit.load(std::memory_order_relaxed) && !out.full)) {
    return;
  }
  const uint64_t dropped = out.dropped;
  portClose(out.fd);
  const std::string narrowPath = toNarrowFileName(state.filePath);
  // A failed rename leaves the file to be emptied by the open: the limit
  // holds either way.
  portRenameReplacing(narrowPath, narrowPath + ".old");
  CTrcOpen(out, state.filePath, openTraceFile(state.filePath, true));
  out.dropped += dropped;
  out.stampDue = true;
}

void trcSetFileSizeLimit(uint64_t bytes) {
  fileSizeLimit.store(bytes != 0 ? bytes : kTrcFileSizeLimit, std::memory_order_relaxed);
}

void TrcCloseFile(TrcHandle handle) {
  TrcLockGuard lock;
  TrcState& state = trcState();
  trcReportRepeats(handle, trcNowSeconds(), true);
  trcForgetRepeats();
  closeOutput(state);
  state.nextComp = 1;
  trcFreeThreadRecord();
}

std::u16string trcOpenLibraryFile(const std::u16string& processName, const std::u16string& logdir, int level) {
  const std::u16string inWorkingDir = processName + u"_mox.trc";
  const std::u16string inLogdir = fileInDirectory(logdir, inWorkingDir);
  // The file that opens is kept: a reader of a FIFO would see the end of
  // its data when a probe closed it.
  const int fd = openTraceFile(inLogdir, true);
  const std::u16string& path = fd >= 0 ? inLogdir : inWorkingDir;
  TrcLockGuard lock;
  startFile(path, fd, true, level);
  TrcHandle handle = nullptr;
  CTrcNewComp(u'M', &handle, nullptr);
  moxTrc.store(handle, std::memory_order_release);
  trcWriteEarlyLines(handle);
  return path;
}

void trcCloseLibraryFile() {
  TrcLockGuard lock;
  TrcCloseFile(moxTrc.load(std::memory_order_acquire));
  moxTrc.store(nullptr, std::memory_order_release);
}
