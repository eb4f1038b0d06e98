// Opening, rotating and closing the trace file, and the component table.
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cwctype>

#include "common/file_path.h"
#include "common/utf.h"
#include "dptrc/trc_early.h"
#include "dptrc/trc_output.h"
#include "dptrc/trc_repeat.h"
#include "dptrc/trc_time.h"

namespace {

const char kDashes[] = "---------------------------------------------------";  // 51
const char kRelease[] = "720";

std::atomic<uint64_t> fileSizeLimit{kTrcFileSizeLimit};

std::u16string_view baseName(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"/\\");
  return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

// Opens path in mode ("w" or "a"); stderr when it cannot be opened. Writes
// the header at every level; bytes is then the file's size.
FILE* CTrcOpen(const std::u16string& path, const char* mode, uint64_t& bytes) REQUIRES(trcLock) {
  TrcState& state = trcState();
  state.processSecond = 0;
  const std::string narrowPath = toNarrowFileName(path);
  // "e": close-on-exec, so child processes do not inherit the file.
  const std::string modeNoInherit = std::string(mode) + "e";
  FILE* stream = fopen(narrowPath.c_str(), modeNoInherit.c_str());
  if (stream == nullptr) {
    fprintf(stderr, "*** ERROR => CTrcOpen: fopen %s\n", narrowPath.c_str());
    stream = stderr;
  }
  struct stat info {};
  bytes = stream != stderr && fstat(fileno(stream), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
  const int header =
      fprintf(stream, "\n%s\ntrc file: \"%s\", trc level: %d, release: \"%s\"\n%s\n", kDashes,
              utf16ToUtf8Lenient(baseName(path)).c_str(), TrcLevel.load(std::memory_order_relaxed), kRelease, kDashes);
  if (header > 0) bytes += static_cast<uint64_t>(header);
  fflush(stream);
  return stream;
}

void closeOutput(TrcState& state) REQUIRES(trcLock) {
  if (state.file.stream != nullptr && state.file.stream != stderr) fclose(state.file.stream);
  state.file = TrcOutput{};
  state.filePath.clear();
}

// The probe of the library's file choice: can path be opened for writing?
// It creates or empties the file, as the open that follows would.
bool writable(const std::u16string& path) {
  FILE* probe = fopen(toNarrowFileName(path).c_str(), "we");
  if (probe == nullptr) return false;
  fclose(probe);
  return true;
}

}  // namespace

FILE* TrcOpenFile(const std::u16string& path, bool truncate, int level) {
  trcRegisterForkHandler();
  TrcLockGuard lock;
  TrcState& state = trcState();
  closeOutput(state);  // a second open must not leak the first stream
  TrcLevel.store(level, std::memory_order_relaxed);
  state.file.stream = CTrcOpen(path, truncate ? "w" : "a", state.file.bytes);
  state.filePath = path;
  const int keyStatus = ThrKeyCreate(&state.secondKey, nullptr);
  if (keyStatus == THR_OK || keyStatus == THR_KEY_EXISTS) trcFreeThreadRecord();
  return state.file.stream;
}

int CTrcNewComp(char16_t letter, TrcHandle* handle, void* hook) {
  TrcLockGuard lock;
  TrcState& state = trcState();
  const char* failure = nullptr;
  if (state.file.stream == nullptr) {
    failure = "*** ERROR => CTrcNewComp: not initialized\n";
  } else if (state.nextComp >= kTrcMaxComps) {
    failure = "*** ERROR => CTrcNewComp: too many comps\n";
  }
  if (failure != nullptr) {
    fputs(failure, stderr);
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
  if (&out != &state.file || out.stream == nullptr || out.stream == stderr ||
      out.bytes < fileSizeLimit.load(std::memory_order_relaxed)) {
    return;
  }
  fclose(out.stream);
  const std::string narrowPath = toNarrowFileName(state.filePath);
  // A failed rename leaves the file to be emptied by the open: the limit
  // holds either way.
  rename(narrowPath.c_str(), (narrowPath + ".old").c_str());
  out = TrcOutput{};
  out.stream = CTrcOpen(state.filePath, "w", out.bytes);
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
  const std::u16string& path = writable(inLogdir) ? inLogdir : inWorkingDir;
  TrcLockGuard lock;
  TrcOpenFile(path, true, level);
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
