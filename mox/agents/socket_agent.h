// Agent that sends every text as UTF-8 over plain TCP connections to up to
// five collecting agents (agent_host/agent_port/agent_type, then
// agent_host_2.. agent_host_5 with their ports and types).
//
// Agents whose host does not resolve at construction take no part; agent
// numbers in trace lines count the agents taking part, from 1. Connections
// are opened, and lost ones reopened, only by checkConnection (once per
// dispatch cycle); a failed write closes that connection and keeps the text
// from that agent only. Each change of a connection's state is traced once:
// a destination that stays unreachable gives one error line, then silence
// until it comes back (the network layer's refused-connect logging is off
// meanwhile, process-wide).
//
// Used by one dispatcher thread at a time: no lock of its own. No operation
// throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mox/agents/data_sending_agent.h"
#include "ni/ni.h"

// One collecting agent as configured: agent N's host, port and type.
struct AgentDestination {
  std::u16string host;
  uint16_t port = 0;
  uint16_t type = 0;
};

class CMTDataSendingSocketAgent : public CMTDataSendingAgent {
 public:
  static constexpr int32_t kConnectTimeoutMs = 500;
  static constexpr int32_t kWriteTimeoutMs = 500;
  static constexpr int32_t kReadTimeoutMs = 1000;
  static constexpr size_t kMaxAgents = 5;

  // Initialises the network layer and resolves the hosts of destinations
  // (agents 1..5 in order; an empty host after the first leaves that agent
  // out); opens no connection.
  explicit CMTDataSendingSocketAgent(const std::vector<AgentDestination>& destinations);
  ~CMTDataSendingSocketAgent() override;
  CMTDataSendingSocketAgent(const CMTDataSendingSocketAgent&) = delete;
  CMTDataSendingSocketAgent& operator=(const CMTDataSendingSocketAgent&) = delete;

  // Connects every agent not connected; true when at least one is connected.
  bool checkConnection() override;
  // Sends the text's strict UTF-8 form to every connected agent; a text with
  // an unpaired surrogate is not sent at all.
  void sendData(std::u16string text) override;
  bool takesChunks() const override { return true; }
  // The strict form; a text with an unpaired surrogate is left out (traced).
  bool appendUtf8(std::u16string_view text, std::string& out) override;
  // Sends bytes to every connected agent with one write each. The write
  // time-out is kWriteTimeoutMs per text: a connection fails when it takes
  // no byte for that long, or all of bytes not within that time per text.
  void sendUtf8(const std::string& bytes, size_t texts) override;
  // Reads what the first agent sent back (up to 4095 bytes, waiting up to a
  // second per read); invalid UTF-8 becomes U+FFFD.
  std::u16string receiveData() override;

  // The agents taking part, in configuration order.
  size_t agentCount() const { return agents_.size(); }
  const std::u16string& agentHost(size_t index) const { return agents_[index].host; }
  uint16_t agentPort(size_t index) const { return agents_[index].port; }
  uint16_t agentType(size_t index) const { return agents_[index].type; }
  bool isConnected(size_t index) const { return agents_[index].state == kConnected; }

 private:
  static constexpr uint16_t kNotConnected = 0;
  static constexpr uint16_t kConnected = 1;
  // History of a connection.
  static constexpr uint16_t kNeverConnected = 0;
  static constexpr uint16_t kWorking = 1;  // connected at least once, not failed since
  static constexpr uint16_t kLastAttemptFailed = 2;

  struct Agent {
    std::u16string host;
    uint16_t port;
    uint16_t type;
    NI_HDL hdl;
    uint16_t state;
    uint16_t history;
  };

  void addAgents(const std::vector<AgentDestination>& destinations);
  bool connect(Agent& agent, int number);
  void send(Agent& agent, int number, const std::string& bytes, size_t texts);
  // NiRawWrite of bytes, retried while each try moves some of them and the
  // texts' time lasts.
  static int writeWithin(NI_HDL hdl, const std::string& bytes, size_t texts);

  std::vector<Agent> agents_;
  std::string converted_;  // appendUtf8's scratch, kept for its capacity
};
