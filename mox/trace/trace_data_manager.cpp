#include "mox/trace/trace_data_manager.h"

#include "common/xml_escape.h"
#include "dptrc/dptrc.h"
#include "mox/trace/trace_record.h"
#include "mox_version.h"
#include "thr/thr_guards.h"

namespace {

const char16_t kLibraryVersion[] = u"" MOX_VERSION;
// The text buffer of a hand-over keeps at most this much between texts.
constexpr size_t kScratchKeptUnits = 64 * 1024;

}  // namespace

CMTTraceDataManager::CMTTraceDataManager() { ThrRwLockInit(&sectionLock_); }

CMTTraceDataManager::~CMTTraceDataManager() {
  queue_.clear();
  owned_.clear();
  if (sectionLock_ != nullptr) ThrRwLockDelete(sectionLock_);
}

void CMTTraceDataManager::init(const CConfiguration& cfg) {
  const uint32_t count = 2u * cfg.getCacheSectionCount();
  ThrExclusiveGuard guard(sectionLock_);
  queue_.clear();
  owned_.clear();
  for (uint32_t number = 1; number <= count; ++number) {
    owned_.push_back(std::make_unique<CMTTraceSection>(static_cast<uint16_t>(number)));
    queue_.push_back(owned_.back().get());
  }
}

void CMTTraceDataManager::addTrace(std::u16string_view text) {
  // A text is kept as a record that holds it as it is.
  const std::u16string header = textRecordHeader(text.size());
  ThrSharedGuard guard(sectionLock_);
  if (queue_.empty()) return;
  queue_.front()->add(header, text);
}

void CMTTraceDataManager::addRecord(std::u16string_view record) {
  ThrSharedGuard guard(sectionLock_);
  if (queue_.empty()) return;
  queue_.front()->add({}, record);
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
  // Its texts have gone out: its blocks serve the current section next
  // instead of waiting a whole turn of the ring (see the header).
  std::vector<TraceTextArena::Block> sent = section->releaseBlocks();
  ThrExclusiveGuard guard(sectionLock_);
  appendSection(section);
  queue_.front()->adoptBlocks(std::move(sent));
}

void CMTTraceDataManager::appendSection(CMTTraceSection* section) { queue_.push_back(section); }

bool CMTTraceDataManager::isEmpty(const CMTTraceSection* section) const {
  return section == nullptr || section->isEmpty();
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

void CMTTraceDataManager::handOverTexts(const std::function<void(const TraceTexts&)>& take) {
  ThrPlainMutexHold hold(handOverLock_);
  handedTexts_.clear();
  CMTTraceSection* detached = switchSection();
  if (detached == nullptr) {
    take({});
    return;
  }
  // However the texts' making ends, the section must go back, or the ring
  // would lose it.
  try {
    // Called within this hold; the analysis cannot follow a lambda.
    detached->handOver([this](const TraceTexts& records) NO_THREAD_SAFETY_ANALYSIS { makeTexts(records); });
  } catch (...) {
    putBack(detached);
    throw;
  }
  // The texts are made: the producers may have the section's blocks while
  // take sends them.
  putBack(detached);
  take(handedTexts_.texts());
}

void CMTTraceDataManager::makeTexts(const TraceTexts& records) {
  for (std::u16string_view record : records) {
    textScratch_.clear();
    formatTraceRecord(record, textScratch_);
    handedTexts_.add(textScratch_);
  }
  if (textScratch_.capacity() > kScratchKeptUnits) std::u16string().swap(textScratch_);
}

std::vector<std::u16string> CMTTraceDataManager::takeTexts() {
  std::vector<std::u16string> texts;
  handOverTexts([&texts](const TraceTexts& handed) { texts.assign(handed.begin(), handed.end()); });
  return texts;
}
