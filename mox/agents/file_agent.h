// Agent that appends every text, as UTF-8, to the metric data log file
// "<logdir>/<process name>_mtdata.log", or to "<process name>_mtdata.log" in
// the current directory when the first cannot be opened.
//
// The file is opened, appended to and closed within each sendData, so other
// processes may read, move or delete it between calls. The names are built
// anew at every call from the configured logdir and currentProcessName().
#pragma once

#include <string>

#include "mox/agents/data_sending_agent.h"

class CMTDataSendingFileAgent : public CMTDataSendingAgent {
 public:
  bool checkConnection() override { return true; }
  // Never fails towards the caller: a text that fits in neither file is
  // dropped after an error line in the trace.
  void sendData(std::u16string text) override;
  std::u16string receiveData() override { return std::u16string(); }

  // "<logdir>/<name>_mtdata.log" and "<name>_mtdata.log".
  static std::u16string primaryFileName();
  static std::u16string fallbackFileName();
};
