// The trace job through the real agents: a hand-over's texts, gathered into chunks, reach the file and the wire as the
// bytes of one send per text.
#include "mox/dispatch/trace_job.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/utf.h"
#include "mox/agents/file_agent.h"
#include "mox/agents/socket_agent.h"
#include "mox/dispatch/text_chunker.h"
#include "support/agent_test_support.h"
#include "support/tcp_listener.h"

using namespace agenttest;
using testsupport::TcpListener;

namespace {

const std::u16string kPrefix = u"VEL_MOX|shop_7";

// More than one chunk's worth of traces, with characters of one to four UTF-8 bytes, an empty text, and a text ending
// in a lone high surrogate before one beginning with a lone low surrogate: converted together they would make one
// character, converted one by one they do not.
std::vector<std::u16string> sampleTraces() {
  std::vector<std::u16string> texts = {u"<event a=\"\xD83D", u"\xDE00\" />\n", u""};
  while (texts.size() < 2000) {
    texts.push_back(u"<event resource=\"Caf\u00e9|\u20ac\U0001F600|" + asciiToUtf16(std::to_string(texts.size())) +
                    u"\" startTime=\"2026-12-08 13:03:11.042\" duration=\"3\"></event>\n");
  }
  return texts;
}

size_t utf8Size(const std::vector<std::u16string>& texts) {
  size_t size = 0;
  for (const std::u16string& text : texts) size += utf16ToUtf8Lenient(text).size();
  return size;
}

// Runs a trace job over agent with texts in its store, twice: the second run finds nothing new and must send nothing.
void runTraceJob(std::unique_ptr<CMTDataSendingAgent> agent, const std::vector<std::u16string>& texts) {
  CConfiguration config;
  configureForTest(config, {{u"cache_section_count", u"2"}});
  CMTTraceDataManager store;
  store.init(config);
  for (const std::u16string& text : texts) store.addTrace(text);
  CTraceJob job(std::move(agent));
  job.run(store, kPrefix);
  job.run(store, kPrefix);
  EXPECT_TRUE(job.versionSent());
}

// The version event, then every text, as sendData would have sent each.
void sendOneByOne(CMTDataSendingAgent& agent, const std::vector<std::u16string>& texts) {
  agent.sendData(CMTTraceDataManager::versionEventText(kPrefix));
  for (const std::u16string& text : texts) agent.sendData(text);
}

TEST(TraceJobTest, ChunkedTracesAreTheBytesOfOneSendPerTextInFileAndOnTheWire) {
  const std::vector<std::u16string> texts = sampleTraces();
  ASSERT_GT(utf8Size(texts), 2 * CTextChunker::kChunkBytes);

  TempDir chunked, oneByOne;
  runTraceJob(std::make_unique<CMTDataSendingFileAgent>(chunked.path16(), u"app"), texts);
  CMTDataSendingFileAgent reference(oneByOne.path16(), u"app");
  sendOneByOne(reference, texts);
  const std::string expected = readFile(oneByOne.file("app_mtdata.log"));
  EXPECT_EQ(readFile(chunked.file("app_mtdata.log")), expected);
  EXPECT_NE(expected.find("<event a=\"##\" />\n"), std::string::npos);  // each lone surrogate on its own

  // The socket agent drops a text it cannot convert: the lone surrogates' texts are missing from both streams alike.
  TcpListener chunkedPeer, oneByOnePeer;
  ASSERT_TRUE(chunkedPeer.ok() && oneByOnePeer.ok());
  auto socket = std::make_unique<CMTDataSendingSocketAgent>(
      std::vector<AgentDestination>{AgentDestination{u"127.0.0.1", chunkedPeer.port(), 0}});
  ASSERT_TRUE(socket->checkConnection());
  runTraceJob(std::move(socket), texts);
  CMTDataSendingSocketAgent referenceSocket({AgentDestination{u"127.0.0.1", oneByOnePeer.port(), 0}});
  ASSERT_TRUE(referenceSocket.checkConnection());
  sendOneByOne(referenceSocket, texts);
  const size_t wireSize = utf8Size(texts) + CMTTraceDataManager::versionEventText(kPrefix).size() -
                          utf16ToUtf8Lenient(texts[0]).size() - utf16ToUtf8Lenient(texts[1]).size();
  ASSERT_TRUE(oneByOnePeer.waitForBytes(wireSize));
  ASSERT_TRUE(chunkedPeer.waitForBytes(wireSize));
  EXPECT_EQ(chunkedPeer.allBytes(), oneByOnePeer.allBytes());
  EXPECT_EQ(chunkedPeer.allBytes().size(), wireSize);
}

}  // namespace
