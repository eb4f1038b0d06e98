#include "mox/trace/trace_data_manager.h"

#include <mutex>
#include <utility>

#include "common/process_wide.h"
#include "common/xml_escape.h"
#include "dptrc/dptrc.h"
#include "mox/agents/agent_factory.h"
#include "mox/config/configuration.h"
#include "mox_version.h"
#include "thr/thr_guards.h"

namespace {

std::atomic<CMTTraceDataManager*> instance{nullptr};

const char16_t kLibraryVersion[] = u"" MOX_VERSION;

}  // namespace

CMTTraceDataManager* CMTTraceDataManager::getInstance() {
  return processWideInstance(instance, [] { return new CMTTraceDataManager(); });
}

void CMTTraceDataManager::destroyInstance() { destroyProcessWide(instance); }

void CMTTraceDataManager::abandonInstance() { abandonProcessWide(instance); }

CMTTraceDataManager::CMTTraceDataManager() {
  ThrMutexInit(&busyLock_);
  ThrRwLockInit(&sectionLock_);
}

CMTTraceDataManager::~CMTTraceDataManager() {
  queue_.clear();
  owned_.clear();
  traceAgent_.reset();
  if (sectionLock_ != nullptr) ThrRwLockDelete(sectionLock_);
  ThrMutexDelete(&busyLock_);
}

void CMTTraceDataManager::init() { init(createDataSendingAgent()); }

void CMTTraceDataManager::init(std::unique_ptr<CMTDataSendingAgent> agent) {
  const uint32_t count = 2u * CConfiguration::getInstance()->getCacheSectionCount();
  {
    ThrExclusiveGuard guard(sectionLock_);
    queue_.clear();
    owned_.clear();
    for (uint32_t number = 1; number <= count; ++number) {
      owned_.push_back(std::make_unique<CMTTraceSection>(static_cast<uint16_t>(number)));
      queue_.push_back(owned_.back().get());
    }
  }
  traceAgent_ = std::move(agent);
}

void CMTTraceDataManager::addTrace(std::u16string text) {
  ThrSharedGuard guard(sectionLock_);
  if (queue_.empty()) return;
  queue_.front()->add(std::move(text));
}

CMTTraceSection* CMTTraceDataManager::switchSection() {
  ThrExclusiveGuard guard(sectionLock_);
  // With fewer than two sections there would be no current section left for
  // the producers while this one is out.
  if (queue_.size() < 2) return nullptr;
  MOX_TRC(2, "Start copying[lock]\n");
  CMTTraceSection* detached = queue_.front();
  queue_.pop_front();
  queue_.front()->clear();
  MOX_TRC(2, "End copying[unlock]\n");
  return detached;
}

void CMTTraceDataManager::putBack(CMTTraceSection* section) {
  if (section == nullptr) return;
  ThrExclusiveGuard guard(sectionLock_);
  appendSection(section);
}

void CMTTraceDataManager::appendSection(CMTTraceSection* section) { queue_.push_back(section); }

bool CMTTraceDataManager::isEmpty(const CMTTraceSection* section) const {
  return section == nullptr || section->isEmpty();
}

void CMTTraceDataManager::sendAll(const CMTTraceSection* section, CMTDataSendingAgent* agent) const {
  if (section != nullptr) section->sendAll(agent);
}

size_t CMTTraceDataManager::sectionCount() const {
  ThrSharedGuard guard(sectionLock_);
  return owned_.size();
}

std::u16string CMTTraceDataManager::versionEventText(const std::u16string& versionPrefix) {
  std::u16string text;
  text.append(u"<metric type=\"").append(u"StringEvent").append(u"\" name=\"");
  appendXmlEscaped(text, versionPrefix);
  text.append(u":").append(u"MOX library version");
  text.append(u"\" value=\"").append(kLibraryVersion).append(u"\" />").append(u"\n");
  return text;
}

void CMTTraceDataManager::processTrace(const std::u16string& versionPrefix) {
  if (!enterJob()) return;
  CMTTraceSection* detached = switchSection();
  sendVersionEventIfDue(versionPrefix);
  sendSection(detached);
  finishJob(detached);
}

bool CMTTraceDataManager::enterJob() {
  ThrMutexGuard guard(&busyLock_);
  // The exchange keeps the guard sound even while the thread layer's mutex
  // is still a no-op (before the layer is initialised).
  return busy_.exchange(1, std::memory_order_acq_rel) == 0;
}

void CMTTraceDataManager::sendVersionEventIfDue(const std::u16string& versionPrefix) {
  if (versionSent_.load(std::memory_order_acquire) != 0) return;
  CMTDataSendingAgent* agent = traceAgent_.get();
  if (agent == nullptr || !agent->checkConnection()) return;
  agent->sendData(versionEventText(versionPrefix));
  // Not written anywhere (a full disk): sent again in the next round.
  if (agent->lastSendFailed()) return;
  versionSent_.store(1, std::memory_order_release);
  MOX_TRC(1, "Version Data Sent\n");
}

void CMTTraceDataManager::sendSection(const CMTTraceSection* section) {
  CMTDataSendingAgent* agent = traceAgent_.get();
  if (agent == nullptr || isEmpty(section)) return;
  MOX_TRC(1, "Trace Data Detected\n");
  // When the agent is not ready the texts are not kept for a later run.
  if (!agent->checkConnection()) return;
  sendAll(section, agent);
  MOX_TRC(2, "Trace Data Sending Finished\n");
}

void CMTTraceDataManager::finishJob(CMTTraceSection* section) {
  ThrExclusiveGuard guard(sectionLock_);
  if (section != nullptr) appendSection(section);
  MOX_TRC(2, "Processing finished\n");
  ThrMutexGuard busyGuard(&busyLock_);
  busy_.store(0, std::memory_order_release);
}
