// Appends each record's bytes, as received, to one file per library process
// in a directory: "<process>_<instance>_mtdata.log", the layout of the
// library's own metric data log, so the metric and the trace connection of a
// process end up in one file, line by line (a line feed follows each
// element). Records of a connection that never named its process go to
// "unknown_<peer address>_mtdata.log".
//
// Names are made safe: characters other than letters, digits and ". _ - + @"
// become "_", a leading "." becomes "_", each part is cut to 100 bytes.
//
// Bounded: a run writes at most maxFiles distinct files; records that would
// need another one go to "mox-collect-overflow.log" (a name no process file
// can have) and are counted. At most maxOpenFiles files are open at once; the
// least recently written one is closed to open another. Files are opened for
// appending; flush() makes the data visible. A failed write is reported on
// the log once and makes failed() true.
#pragma once

#include <atomic>
#include <fstream>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "log.h"
#include "record_sink.h"

namespace moxcollect {

// The file name (without directory) for a record of that identity and peer.
std::string rawFileName(const Identity& identity, const std::string& peerHost);

class RawFileSink : public RecordSink {
 public:
  static constexpr size_t kDefaultMaxFiles = 1000;
  static constexpr size_t kDefaultMaxOpenFiles = 64;
  static constexpr const char* kOverflowName = "mox-collect-overflow.log";

  // Limits of at least 1.
  RawFileSink(std::string directory, Log& log, size_t maxFiles = kDefaultMaxFiles,
              size_t maxOpenFiles = kDefaultMaxOpenFiles);
  void write(const Record& record) override;
  void flush() override;
  bool failed() const override { return failed_; }
  void countInto(Stats& stats) const override { stats.fileOverflow += overflow_.load(); }
  size_t descriptors() const override { return maxOpenFiles_; }

 private:
  struct OpenFile {
    std::string name;
    std::unique_ptr<std::ofstream> stream;
  };

  // The file the last record went to, and whose records go there: a
  // connection's records arrive one after another, so most records find
  // their file without building its name. Closing a file forgets it.
  struct LastTarget {
    std::ofstream* file = nullptr;
    std::string name;
    bool overflow = false;  // the overflow file, counted for each record
    Identity identity;
    std::string peerHost;  // only compared when the identity is unknown
  };
  bool sameTarget(const Record& record) const;

  std::string nameFor(const Record& record);
  std::ofstream* fileFor(const std::string& name);
  void close(std::list<OpenFile>::iterator file);
  void check(const std::ofstream& file, const std::string& name);

  std::string directory_;
  Log& log_;
  size_t maxFiles_;
  size_t maxOpenFiles_;
  std::list<OpenFile> open_;  // the most recently written first
  std::unordered_map<std::string, std::list<OpenFile>::iterator> byName_;
  std::unordered_set<std::string> written_;  // the process files of this run
  std::atomic<uint64_t> overflow_{0};
  LastTarget last_;
  bool failed_ = false;
};

}  // namespace moxcollect
