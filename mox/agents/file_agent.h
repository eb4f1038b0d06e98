// Agent that appends every text, as UTF-8, to the metric data log file
// "<logdir>/<process name>_mtdata.log", or to "<process name>_mtdata.log" in
// the current directory when the first cannot be opened or written (and
// when logdir is empty or holds a U+0000).
//
// The file is opened, appended to and closed within each sendData, so other
// processes may read, move or delete it between calls (log rotation of the
// host works). The log directory and the process name are handed to the
// agent when it is made. Every write and the close are checked: a text is
// only counted as sent when it reached a file whole.
//
// Trace lines: an unopenable primary file is reported at every call (the
// switch line); a file that opens but cannot be written (a full disk, a file
// size limit) is reported once when writing starts to fail and once when it
// works again. A partial text left by a failed write is cut off again when no
// one appended after it.
//
// The host's safety: no write waits or raises SIGPIPE or SIGXFSZ in the
// host. A FIFO of the file's name without a reader cannot be opened; one
// whose reader stops reading or goes away, and a file at the size limit of
// the process, cannot be written: the text goes to the fallback file.
#pragma once

#include <string>

#include "mox/agents/data_sending_agent.h"

class CMTDataSendingFileAgent : public CMTDataSendingAgent {
 public:
  CMTDataSendingFileAgent(std::u16string logdir, std::u16string processName);

  bool checkConnection() override { return true; }
  // Never fails towards the caller: a text that fits in neither file is
  // dropped after an error line in the trace.
  void sendData(std::u16string text) override;
  bool takesChunks() const override { return true; }
  // The lenient form (an unpaired surrogate becomes "#"): always true.
  bool appendUtf8(std::u16string_view text, std::string& out) override;
  // One open, write and close of the primary file (or the fallback one) for
  // all of bytes: a piece that fails goes whole to the fallback file.
  void sendUtf8(const std::string& bytes, size_t texts) override;
  std::u16string receiveData() override { return std::u16string(); }
  bool lastSendFailed() const override { return lastSendFailed_; }

  // "<logdir>/<name>_mtdata.log" (or the fallback name, see above) and
  // "<name>_mtdata.log".
  std::u16string primaryFileName() const;
  std::u16string fallbackFileName() const;

 private:
  enum class Append { Written, NotOpened, NotWritten };
  // One file's writing state, for reporting its changes only.
  struct FileState {
    bool failing = false;
  };

  Append appendTo(const std::u16string& fileName, const std::string& bytes, FileState& state);

  const std::u16string logdir_;
  const std::u16string processName_;
  FileState primary_;
  FileState fallback_;
  bool lastSendFailed_ = false;
};
