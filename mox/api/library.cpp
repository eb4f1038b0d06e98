#include "mox/api/library.h"

#include <utility>

#include "mox/agents/agent_factory.h"

MoxLibrary::MoxLibrary(std::u16string processName, std::u16string instanceNumber)
    : identity_(std::move(processName), std::move(instanceNumber)) {}

// The dispatcher goes last: its threads use every other part, and the thread
// layer it shuts down holds the locks of the others.
MoxLibrary::~MoxLibrary() {
  if (dispatcher_) dispatcher_->stopThreads();
  traces_.reset();
  metrics_.reset();
  registry_.reset();
  dispatcher_.reset();
}

void MoxLibrary::build() {
  dispatcher_ = std::make_unique<CDispatcherManager>();
  registry_ = std::make_unique<CMTContextManager>();
  traces_ = std::make_unique<CMTTraceDataManager>();
  metrics_ = std::make_unique<CPerfDataManager>();
  dispatcher_->init(config_, identity_, *registry_, *traces_, *metrics_);
  registry_->init(config_, identity_, *metrics_, *traces_);
  traces_->init(config_);
  metrics_->init(config_);
  const AgentSettings agents = agentSettings(config_, identity_.name());
  std::unique_ptr<CMTDataSendingAgent> traceAgent = createDataSendingAgent(agents);
  dispatcher_->setAgents(std::move(traceAgent), createDataSendingAgent(agents));
}
