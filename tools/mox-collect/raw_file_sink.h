// Appends each record's bytes, as received, to one file per library process
// in a directory: "<process>_<instance>_mtdata.log", the layout of the
// library's own metric data log, so the metric and the trace connection of a
// process end up in one file, line by line (a line feed follows each
// element). Records of a connection that never named its process go to
// "unknown_<peer address>_mtdata.log".
//
// Names are made safe: characters other than letters, digits and ". _ - + @"
// become "_", a leading "." becomes "_", each part is cut to 100 bytes.
// Files are opened for appending on first use and kept open; flush() makes
// the data visible. A failed write is reported on the log stream once and
// makes failed() true.
#pragma once

#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <string>

#include "record_sink.h"

namespace moxcollect {

// The file name (without directory) for a record of that identity and peer.
std::string rawFileName(const Identity& identity, const std::string& peerHost);

class RawFileSink : public RecordSink {
 public:
  RawFileSink(std::string directory, std::ostream& log) : directory_(std::move(directory)), log_(log) {}
  void write(const Record& record) override;
  void flush() override;
  bool failed() const override { return failed_; }

 private:
  std::ofstream* fileFor(const std::string& name);

  static constexpr size_t kMaxOpenFiles = 256;

  std::string directory_;
  std::ostream& log_;
  std::map<std::string, std::unique_ptr<std::ofstream>> files_;
  bool failed_ = false;
};

}  // namespace moxcollect
