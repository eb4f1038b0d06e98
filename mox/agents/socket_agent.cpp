#include "mox/agents/socket_agent.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "common/utf.h"
#include "dptrc/dptrc.h"

namespace {

constexpr size_t kReceiveUnits = 4096;

const char* const kOrdinals[] = {"", "", "2nd", "3rd", "4th", "5th"};

}  // namespace

CMTDataSendingSocketAgent::CMTDataSendingSocketAgent(const std::vector<AgentDestination>& destinations) {
  try {
    if (NiInit3() != VEL_O_K) {
      MOX_TRC_ERROR("NI library failed to be initilized!\n");
      return;
    }
    agents_.reserve(kMaxAgents);
    addAgents(destinations);
  } catch (...) {
    agents_.clear();  // out of memory: an agent without destinations sends nothing
  }
}

void CMTDataSendingSocketAgent::addAgents(const std::vector<AgentDestination>& destinations) {
  for (size_t i = 0; i < destinations.size() && i < kMaxAgents; ++i) {
    const int n = static_cast<int>(i + 1);
    const AgentDestination& destination = destinations[i];
    if (n > 1 && destination.host.empty()) continue;  // a further agent left out
    NiHostAddr addr;
    if (NiHostToAddr(destination.host.c_str(), &addr) != VEL_O_K) {
      if (n == 1) {
        MOX_TRC_ERROR("Main agent failed to be initilized due to incorrect host setting!\n");
      } else {
        MOX_TRC_ERROR("%s agent failed to be initilized due to incorrect host setting!\n", kOrdinals[n]);
      }
      continue;
    }
    agents_.push_back(
        Agent{destination.host, destination.port, destination.type, NI_INVALID_HDL, kNotConnected, kNeverConnected});
  }
}

CMTDataSendingSocketAgent::~CMTDataSendingSocketAgent() {
  for (Agent& agent : agents_) {
    if (agent.state == kConnected) NiCloseHandle(agent.hdl);
  }
}

bool CMTDataSendingSocketAgent::checkConnection() {
  size_t usable = agents_.size();
  for (size_t i = 0; i < agents_.size(); ++i) {
    Agent& agent = agents_[i];
    if (agent.state == kNotConnected && !connect(agent, static_cast<int>(i + 1))) --usable;
  }
  return usable != 0;
}

bool CMTDataSendingSocketAgent::connect(Agent& agent, int number) {
  // The host is resolved again for every attempt: its address may have changed.
  NiHostAddr addr;
  NI_HDL hdl = NI_INVALID_HDL;
  int rc = NiHostToAddr(agent.host.c_str(), &addr);
  if (rc == VEL_O_K) rc = NiRawHandleForAddr(&addr, agent.port, kConnectTimeoutMs, &hdl);
  if (rc != VEL_O_K) {
    if (agent.history == kWorking) {
      MOX_TRC_ERROR(
          "NI raw handle failed to be initilized due to the broken connection, connection to agent destination "
          "failed to be established  in agent %d\n",
          number);
      NiDisableTrace(NI_TRC_MASK_CONN_LOG);
    } else if (agent.history == kNeverConnected) {
      MOX_TRC_ERROR(
          "NI raw handle failed to be initilized for the first time, connection to agent destination failed to be "
          "established  in agent %d\n",
          number);
      NiDisableTrace(NI_TRC_MASK_CONN_LOG);
    }
    agent.history = kLastAttemptFailed;
    return false;
  }
  agent.hdl = hdl;
  agent.state = kConnected;
  if (agent.history == kLastAttemptFailed) {
    MOX_TRC(1, "NI raw handle gets restored successfully from the previous broken connection in agent %d\n", number);
    NiEnableTrace(NI_TRC_MASK_CONN_LOG);
  } else if (agent.history == kNeverConnected) {
    MOX_TRC(1, "NI raw handle gets initialized successfully for the first time in agent %d\n", number);
  }
  agent.history = kWorking;
  MOX_TRC(2, "NI raw handle gets initialized successfully  in agent %d\n", number);
  return true;
}

void CMTDataSendingSocketAgent::sendData(std::u16string text) {
  try {
    std::string bytes;
    if (!utf16ToUtf8(text, bytes)) {
      MOX_TRC_ERROR("UTF conversion error!\n");
      return;
    }
    sendUtf8(bytes, 1);
  } catch (...) {
    // Out of memory: this text is lost; the next one is tried afresh.
  }
}

bool CMTDataSendingSocketAgent::appendUtf8(std::u16string_view text, std::string& out) {
  if (!utf16ToUtf8(text, converted_)) {
    MOX_TRC_ERROR("UTF conversion error!\n");
    return false;
  }
  out += converted_;
  return true;
}

void CMTDataSendingSocketAgent::sendUtf8(const std::string& bytes, size_t texts) {
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) {
    MOX_TRC_ERROR("UTF conversion error!\n");
    return;
  }
  for (size_t i = 0; i < agents_.size(); ++i) {
    if (agents_[i].state == kConnected) send(agents_[i], static_cast<int>(i + 1), bytes, texts);
  }
}

int CMTDataSendingSocketAgent::writeWithin(NI_HDL hdl, const std::string& bytes, size_t texts) {
  // A chunk holds many texts, each of which once had its own time-out: a
  // collector that kept up with one text at a time keeps up with the chunk.
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteTimeoutMs) * std::max<size_t>(texts, 1);
  size_t done = 0;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    const int32_t timeoutMs = static_cast<int32_t>(std::clamp<int64_t>(left.count(), 0, kWriteTimeoutMs));
    int32_t written = 0;
    const int rc = NiRawWrite(hdl, bytes.data() + done, static_cast<int32_t>(bytes.size() - done), timeoutMs, &written);
    done += static_cast<size_t>(written);
    if (rc != NIETIMEOUT || written <= 0 || left.count() <= kWriteTimeoutMs) return rc;
  }
}

void CMTDataSendingSocketAgent::send(Agent& agent, int number, const std::string& bytes, size_t texts) {
  const int rc = writeWithin(agent.hdl, bytes, texts);
  if (rc == VEL_O_K) {
    MOX_TRC(1, "Send metric data through the socket interface successfully in agent %d\n", number);
    return;
  }
  // Reconnected by the next checkConnection; the history stays as it is.
  NiCloseHandle(agent.hdl);
  agent.hdl = NI_INVALID_HDL;
  agent.state = kNotConnected;
  MOX_TRC_ERROR("Failed to send metric data through the socket interface, reset by peer in agent %d\n", number);
}

std::u16string CMTDataSendingSocketAgent::receiveData() {
  try {
    if (agents_.empty() || agents_.front().state != kConnected) return std::u16string();
    std::string bytes(kReceiveUnits, '\0');
    int32_t filled = 0;
    const int32_t limit = static_cast<int32_t>(kReceiveUnits - 1);
    while (filled < limit) {
      int32_t got = 0;
      if (NiRawRead(agents_.front().hdl, &bytes[static_cast<size_t>(filled)], limit - filled, kReadTimeoutMs, &got) !=
          VEL_O_K)
        break;
      filled += got;
    }
    bytes.resize(static_cast<size_t>(filled));
    return utf8ToUtf16Lenient(bytes);
  } catch (...) {
    return std::u16string();
  }
}
