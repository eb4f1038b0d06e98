#include "mox/agents/agent_factory.h"

#include <new>
#include <utility>

#include "mox/agents/file_agent.h"
#include "mox/config/configuration.h"

std::vector<AgentDestination> configuredDestinations(const CConfiguration& cfg) {
  std::vector<AgentDestination> destinations;
  for (int n = 1; n <= moxconfig::kAgentCount; ++n) {
    destinations.push_back(AgentDestination{cfg.getAgentHost(n), cfg.getAgentPort(n), cfg.getAgentType(n)});
  }
  return destinations;
}

AgentSettings agentSettings(const CConfiguration& cfg, std::u16string processName) {
  AgentSettings settings;
  settings.socket = cfg.getDatasendingMethod() == u"socket";
  settings.logdir = cfg.getLogdir();
  settings.processName = std::move(processName);
  settings.destinations = configuredDestinations(cfg);
  return settings;
}

std::unique_ptr<CMTDataSendingAgent> createDataSendingAgent(const AgentSettings& settings) {
  try {
    if (settings.socket) {
      return std::unique_ptr<CMTDataSendingAgent>(new (std::nothrow) CMTDataSendingSocketAgent(settings.destinations));
    }
    return std::unique_ptr<CMTDataSendingAgent>(new (std::nothrow)
                                                    CMTDataSendingFileAgent(settings.logdir, settings.processName));
  } catch (...) {
    return nullptr;  // the owner then never sends
  }
}
