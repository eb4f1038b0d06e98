// The collector's report lines (connections, dropped elements, failed files,
// the summary) on one stream. The loop and the sink writer thread both
// report, so each line is written whole under a lock.
#pragma once

#include <mutex>
#include <ostream>
#include <string>

namespace moxcollect {

class Log {
 public:
  explicit Log(std::ostream& out) : out_(out) {}
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  // Writes "mox-collect: " text and a line feed, and flushes.
  void line(const std::string& text);

 private:
  std::mutex mutex_;
  std::ostream& out_;
};

}  // namespace moxcollect
