#include "mox/agents/agent_factory.h"

#include <new>

#include "mox/agents/file_agent.h"
#include "mox/config/configuration.h"

std::unique_ptr<CMTDataSendingAgent> createDataSendingAgent() {
  if (CConfiguration::getInstance()->getDatasendingMethod() == u"socket") {
    return nullptr;  // the socket agent is created here once it exists
  }
  return std::unique_ptr<CMTDataSendingAgent>(new (std::nothrow) CMTDataSendingFileAgent());
}
