// Chooses the data sending agent from the configuration.
#pragma once

#include <memory>

#include "mox/agents/data_sending_agent.h"

// A file agent unless `datasending_method` is exactly "socket" (same length,
// case-sensitive). Returns nullptr when no agent can be made; the owner then
// never sends.
std::unique_ptr<CMTDataSendingAgent> createDataSendingAgent();
