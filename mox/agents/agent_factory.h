// Chooses and makes the data sending agents from values taken out of the
// configuration once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mox/agents/data_sending_agent.h"
#include "mox/agents/socket_agent.h"

class CConfiguration;

// Everything an agent is made from.
struct AgentSettings {
  bool socket = false;  // `datasending_method` is exactly "socket" (same length, case-sensitive)
  std::u16string logdir;
  std::u16string processName;
  std::vector<AgentDestination> destinations;  // agents 1..5
};

// The five configured destinations, agent 1 first.
std::vector<AgentDestination> configuredDestinations(const CConfiguration& cfg);
AgentSettings agentSettings(const CConfiguration& cfg, std::u16string processName);

// A socket agent when settings.socket, else a file agent. Returns nullptr
// when no agent can be made; the owner then never sends.
std::unique_ptr<CMTDataSendingAgent> createDataSendingAgent(const AgentSettings& settings);
