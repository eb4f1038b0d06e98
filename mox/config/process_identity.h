// ProcessIdentity: who the process is in everything the library prints: the
// process name and instance number given at initialisation, fixed for the
// library's life, and the instance prefix, which the host may change at any
// time (MOX_setInstancePrefix). The lifecycle owns it and hands it to the
// parts that print it; the name reaches the agents as a value.
//
// Thread-safe: the prefix is read and replaced under the object's mutex.
#pragma once

#include <string>
#include <utility>

#include "thr/thr_plain_mutex.h"

class ProcessIdentity {
 public:
  ProcessIdentity(std::u16string name, std::u16string instanceNumber)
      : name_(std::move(name)), instanceNumber_(std::move(instanceNumber)) {}
  ProcessIdentity(const ProcessIdentity&) = delete;
  ProcessIdentity& operator=(const ProcessIdentity&) = delete;

  const std::u16string& name() const { return name_; }
  const std::u16string& instanceNumber() const { return instanceNumber_; }
  std::u16string instancePrefix() const;
  void setInstancePrefix(std::u16string prefix);

  // systemName, then "|" name, "_" instance number (empty parts left out):
  // the name of the version event.
  std::u16string versionPrefix(const std::u16string& systemName) const;
  // The version prefix, then "|" instance prefix when not empty: the metric
  // name prefix.
  std::u16string metricPrefix(const std::u16string& systemName) const;

 private:
  const std::u16string name_;
  const std::u16string instanceNumber_;
  mutable ThrPlainMutex prefixLock_;
  std::u16string instancePrefix_ GUARDED_BY(prefixLock_);
};
