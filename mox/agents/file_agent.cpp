#include "mox/agents/file_agent.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/file_path.h"
#include "common/utf.h"
#include "dptrc/dptrc.h"
#include "port/error_text.h"
#include "port/file.h"
#include "port/quiet_write.h"

namespace {

constexpr char16_t kFileSuffix[] = u"_mtdata.log";

const char* errorText(int error) {
  const char* text = portErrorText(error);
  return text != nullptr ? text : "unknown error";
}

// Created when missing. Non-blocking, so that a FIFO of that name without a
// reader is "cannot be opened" rather than a dispatcher (or a host thread in
// its exit) that hangs, and one whose reader stops reading is "cannot be
// written".
int openForAppend(const std::u16string& fileName) { return portOpenForAppend(toNarrowFileName(fileName), false); }

// Removes the written part of a text that failed half-way, so that the file
// holds no torn line, unless someone appended after it meanwhile (the other
// agent shares the file).
void cutPartialText(int fd, size_t written) {
  const int64_t end = portFileOffset(fd);
  PortFileStatus info;
  if (end < 0 || !portFileStatus(fd, &info) || info.size != static_cast<uint64_t>(end)) return;
  if (!portTruncateFile(fd, static_cast<uint64_t>(end) - written)) return;  // the torn text stays
}

// 0 when every byte was written, else the errno of the failing write. A
// FIFO whose reader has gone (EPIPE) or a file at the size limit of the
// process (EFBIG) must not end the host with a signal.
int writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = portWriteQuietly(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    const int error = n < 0 ? errno : ENOSPC;  // no progress: the disk is full
    if (done > 0) cutPartialText(fd, done);
    return error;
  }
  return 0;
}

}  // namespace

CMTDataSendingFileAgent::CMTDataSendingFileAgent(std::u16string logdir, std::u16string processName)
    : logdir_(std::move(logdir)), processName_(std::move(processName)) {}

std::u16string CMTDataSendingFileAgent::primaryFileName() const { return fileInDirectory(logdir_, fallbackFileName()); }

std::u16string CMTDataSendingFileAgent::fallbackFileName() const { return processName_ + kFileSuffix; }

CMTDataSendingFileAgent::Append CMTDataSendingFileAgent::appendTo(const std::u16string& fileName,
                                                                  const std::string& bytes, FileState& state) {
  const int fd = openForAppend(fileName);
  if (fd < 0) return Append::NotOpened;
  int error = writeAll(fd, bytes);
  // A failing close can be the first sign of data that never reached the disk.
  if (portClose(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  if (error != 0) {
    if (!state.failing) {
      MOX_TRC_ERROR("Metric data log file %s could not be written (%d: %s)\n", trcText(fileName).c_str(), error,
                    errorText(error));
    }
    state.failing = true;
    return Append::NotWritten;
  }
  if (state.failing) MOX_TRC(1, "Metric data log file %s is written again\n", trcText(fileName).c_str());
  state.failing = false;
  return Append::Written;
}

void CMTDataSendingFileAgent::sendData(std::u16string text) {
  lastSendFailed_ = true;
  try {
    sendUtf8(utf16ToUtf8Lenient(text), 1);
  } catch (...) {
    // Out of memory while converting the text: it is lost like an unwritable one.
  }
}

bool CMTDataSendingFileAgent::appendUtf8(std::u16string_view text, std::string& out) {
  appendUtf16AsUtf8Lenient(text, out);
  return true;
}

void CMTDataSendingFileAgent::sendUtf8(const std::string& bytes, size_t /*texts*/) {
  lastSendFailed_ = true;
  try {
    const std::u16string primary = primaryFileName();
    const Append first = appendTo(primary, bytes, primary_);
    if (first == Append::Written) {
      lastSendFailed_ = false;
      return;
    }
    const std::u16string fallback = fallbackFileName();
    Append second = first;
    if (fallback != primary) {
      // The path goes into the trace as text: a '%' in it must not act as a format.
      if (first == Append::NotOpened) {
        MOX_TRC_TEXT(1, u"Switch to current working directory due to metric data log file " + primary +
                            u" could not be opened!\n");
      }
      second = appendTo(fallback, bytes, fallback_);
    }
    if (second == Append::Written) {
      lastSendFailed_ = false;
    } else if (second == Append::NotOpened) {
      MOX_TRC_ERROR("NO candidated metric data log file could be created(even in the current working directory)!\n");
    }
  } catch (...) {
    // Out of memory while building a file name: the text is lost like an unwritable one.
  }
}
