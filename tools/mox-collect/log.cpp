#include "log.h"

namespace moxcollect {

void Log::line(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  out_ << "mox-collect: " << text << '\n';
  out_.flush();
}

}  // namespace moxcollect
