#include "mox/config/process_identity.h"

#include <utility>

namespace {

void appendPart(std::u16string& out, const char16_t* separator, const std::u16string& part) {
  if (part.empty()) return;
  out.append(separator).append(part);
}

}  // namespace

std::u16string ProcessIdentity::instancePrefix() const {
  ThrPlainMutexHold hold(prefixLock_);
  return instancePrefix_;
}

void ProcessIdentity::setInstancePrefix(std::u16string prefix) {
  ThrPlainMutexHold hold(prefixLock_);
  instancePrefix_ = std::move(prefix);
}

std::u16string ProcessIdentity::versionPrefix(const std::u16string& systemName) const {
  std::u16string prefix = systemName;
  appendPart(prefix, u"|", name_);
  appendPart(prefix, u"_", instanceNumber_);
  return prefix;
}

std::u16string ProcessIdentity::metricPrefix(const std::u16string& systemName) const {
  std::u16string prefix = versionPrefix(systemName);
  appendPart(prefix, u"|", instancePrefix());
  return prefix;
}
