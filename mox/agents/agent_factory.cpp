#include "mox/agents/agent_factory.h"

#include <new>

#include "mox/agents/file_agent.h"
#include "mox/agents/socket_agent.h"
#include "mox/config/configuration.h"

std::unique_ptr<CMTDataSendingAgent> createDataSendingAgent() {
  try {
    if (CConfiguration::getInstance()->getDatasendingMethod() == u"socket") {
      return std::unique_ptr<CMTDataSendingAgent>(new (std::nothrow) CMTDataSendingSocketAgent());
    }
    return std::unique_ptr<CMTDataSendingAgent>(new (std::nothrow) CMTDataSendingFileAgent());
  } catch (...) {
    return nullptr;  // the owner then never sends
  }
}
