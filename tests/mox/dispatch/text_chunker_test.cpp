// The chunks of an interval through the real agents: where chunks end, and what a failure midway leaves in the files or
// on the wire.
#include "mox/dispatch/text_chunker.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/utf.h"
#include "dptrc/dptrc.h"
#include "mox/agents/agent_factory.h"
#include "mox/agents/file_agent.h"
#include "mox/agents/socket_agent.h"
#include "support/agent_test_support.h"
#include "support/tcp_listener.h"

using namespace agenttest;
using testsupport::TcpListener;

namespace {

// A real file agent that also keeps each chunk it is given and can run a step after a given chunk.
class ChunkKeepingFileAgent : public CMTDataSendingFileAgent {
 public:
  using CMTDataSendingFileAgent::CMTDataSendingFileAgent;
  void sendUtf8(const std::string& bytes, size_t texts) override {
    chunks.push_back(bytes);
    CMTDataSendingFileAgent::sendUtf8(bytes, texts);
    if (chunks.size() == afterChunk && step) step();
  }
  std::vector<std::string> chunks;
  size_t afterChunk = 0;
  std::function<void()> step;
};

// Texts of one to four bytes per character, a surrogate pair among them.
std::vector<std::u16string> sampleTexts(size_t count) {
  std::vector<std::u16string> texts;
  for (size_t i = 0; i < count; ++i) {
    texts.push_back(u"<metric name=\"Caf\u00e9|\u20ac\U0001F600|" + asciiToUtf16(std::to_string(i)) +
                    u":Counter\" value=\"" + asciiToUtf16(std::to_string(i * 7)) + u"\" />\n");
  }
  return texts;
}

std::string utf8Of(const std::vector<std::u16string>& texts, size_t from = 0, size_t to = SIZE_MAX) {
  std::string all;
  for (size_t i = from; i < texts.size() && i < to; ++i) all += utf16ToUtf8Lenient(texts[i]);
  return all;
}

// The offsets in the UTF-8 stream of texts where one text ends and the next begins.
std::vector<size_t> textEnds(const std::vector<std::u16string>& texts) {
  std::vector<size_t> ends;
  size_t end = 0;
  for (const std::u16string& text : texts) ends.push_back(end += utf16ToUtf8Lenient(text).size());
  return ends;
}

bool isTextEnd(const std::vector<size_t>& ends, size_t offset) {
  return std::find(ends.begin(), ends.end(), offset) != ends.end();
}

class TextChunkerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    trcCloseLibraryFile();
    TrcLevel.store(0);
  }
  std::string trace() {
    trcCloseLibraryFile();
    TrcLevel.store(0);
    return readFile(traceDir_.file("trc_mox.trc"));
  }
  TempDir logDir_, traceDir_, cwd_;
  const std::string primary_ = logDir_.file("app_mtdata.log"), fallback_ = cwd_.file("app_mtdata.log");
};

// Whatever the chunk size, even smaller than one text, every chunk ends where a text ends, is whole UTF-8, and the file
// holds the texts in order.
TEST_F(TextChunkerTest, ChunksEndBetweenTextsAndKeepTheTextsInOrder) {
  const std::vector<std::u16string> texts = sampleTexts(300);
  const std::vector<size_t> ends = textEnds(texts);
  const std::string expected = utf8Of(texts);
  for (size_t chunkBytes : {size_t(1), size_t(37), size_t(1000), CTextChunker::kChunkBytes}) {
    SCOPED_TRACE(chunkBytes);
    TempDir logDir;
    ChunkKeepingFileAgent agent(logDir.path16(), u"app");
    {
      CTextChunker chunker(agent, chunkBytes);
      for (const std::u16string& text : texts) chunker.add(text);
      chunker.flush();
      chunker.flush();  // nothing left: no empty chunk
    }
    EXPECT_EQ(readFile(logDir.file("app_mtdata.log")), expected);
    size_t offset = 0;
    for (const std::string& chunk : agent.chunks) {
      std::u16string back;
      EXPECT_TRUE(utf8ToUtf16(chunk, back));
      EXPECT_FALSE(chunk.empty());
      EXPECT_LT(chunk.size(), chunkBytes + 100);  // one chunk and at most one text
      offset += chunk.size();
      EXPECT_TRUE(isTextEnd(ends, offset)) << offset;
    }
    EXPECT_EQ(offset, expected.size());
    // A chunk smaller than a text holds one text; a full-size one holds them all.
    const size_t expectedChunks = chunkBytes == 1 ? texts.size() : chunkBytes == CTextChunker::kChunkBytes ? 1 : 0;
    if (expectedChunks != 0) {
      EXPECT_EQ(agent.chunks.size(), expectedChunks);
    }
  }
}

// The primary file turns into a directory after the second chunk: the first two chunks stay in it, every later chunk
// goes whole to the working directory, each text lands in exactly one of the two files, and the switch is traced once
// per chunk, not per text.
TEST_F(TextChunkerTest, AFileThatCannotBeOpenedMidwaySendsTheLaterChunksWholeToTheFallback) {
  const std::vector<std::u16string> texts = sampleTexts(200);
  const std::vector<size_t> ends = textEnds(texts);
  trcOpenLibraryFile(u"trc", traceDir_.path16(), 1);
  ScopedCwd inCwd(cwd_.path());
  ChunkKeepingFileAgent agent(logDir_.path16(), u"app");
  std::string inPrimary;
  agent.afterChunk = 2;
  agent.step = [&] {
    inPrimary = readFile(primary_);
    std::filesystem::remove(primary_);
    ASSERT_EQ(mkdir(primary_.c_str(), 0755), 0);
  };
  CTextChunker chunker(agent, 1000);
  for (const std::u16string& text : texts) chunker.add(text);
  chunker.flush();
  EXPECT_FALSE(agent.lastSendFailed());
  ASSERT_GT(agent.chunks.size(), 3u);
  EXPECT_EQ(inPrimary, agent.chunks[0] + agent.chunks[1]);
  EXPECT_TRUE(isTextEnd(ends, inPrimary.size()));
  EXPECT_EQ(inPrimary + readFile(fallback_), utf8Of(texts));
  EXPECT_EQ(countOf(trace(), "Switch to current working directory"), agent.chunks.size() - 2);
}

// The collector resets the connection midway: what it received is a prefix of the interval's stream, the agent stops
// sending the rest of it, and the next cycle's connection gets the next interval from its first text.
TEST_F(TextChunkerTest, AConnectionLostMidwayLosesTheRestOfTheIntervalOnly) {
  TcpListener listener;
  ASSERT_TRUE(listener.ok());
  const std::vector<std::u16string> texts = sampleTexts(20000);
  const std::string all = utf8Of(texts);
  CMTDataSendingSocketAgent agent({AgentDestination{u"127.0.0.1", listener.port(), 0}});
  ASSERT_TRUE(agent.checkConnection());
  ASSERT_TRUE(listener.waitFor([&] { return listener.open() == 1; }));
  {
    CTextChunker chunker(agent, 1000);
    size_t i = 0;
    for (; i < 10; ++i) chunker.add(texts[i]);
    chunker.flush();
    ASSERT_TRUE(listener.waitForBytes(utf8Of(texts, 0, 10).size()));
    listener.resetConnections();
    for (; i < texts.size() && agent.isConnected(0); ++i) chunker.add(texts[i]);
    chunker.flush();
    EXPECT_FALSE(agent.isConnected(0));
  }
  const std::string received = listener.bytes(0);
  EXPECT_EQ(all.substr(0, received.size()), received);
  ASSERT_TRUE(agent.checkConnection());
  {
    CTextChunker chunker(agent);
    chunker.add(texts[0]);
    chunker.flush();
  }
  const std::string first = utf16ToUtf8Lenient(texts[0]);
  ASSERT_TRUE(listener.waitFor([&] { return listener.bytes(1).size() >= first.size(); }));
  EXPECT_EQ(listener.bytes(1), first);
}

// A collector that accepts but never reads: the chunk's write, which may wait up to the time-out once per text it
// holds, gives up after one time-out without progress rather than hanging the data job.
TEST_F(TextChunkerTest, ACollectorThatStopsReadingCostsOneTimeOutNotOnePerText) {
  const int listening = testsupport::boundLoopbackSocket(AF_INET, 0);
  const int small = 4096;
  ASSERT_GE(listening, 0);
  ASSERT_EQ(setsockopt(listening, SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
  ASSERT_EQ(listen(listening, 1), 0);
  const std::vector<std::u16string> texts = sampleTexts(200000);  // about 13 MB, far beyond the socket buffers
  {
    CMTDataSendingSocketAgent agent({AgentDestination{u"127.0.0.1", testsupport::localPort(listening), 0}});
    ASSERT_TRUE(agent.checkConnection());
    CTextChunker chunker(agent, SIZE_MAX);
    for (const std::u16string& text : texts) chunker.add(text);
    const auto start = std::chrono::steady_clock::now();
    chunker.flush();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(agent.isConnected(0));
  }
  close(listening);
}

}  // namespace
