// Splits one connection's byte stream into its top-level XML elements.
//
// The library writes metric lines and trace fragments back to back with no
// framing, so the stream is parsed as the content of a synthetic root element
// by a streaming XML parser. Bytes may be fed in chunks cut anywhere (inside a
// tag, an escape or a multi-byte character); each complete top-level element
// is handed over exactly once, together with its exact bytes as received.
//
// A malformed element (for example host text that was not escaped) does not
// end the stream: the element in progress is dropped, reported through the
// error callback, and parsing resumes after the next line feed, which ends
// every text the library sends. An element longer than the byte limit is
// dropped the same way, so a broken peer cannot make the buffer grow without
// bound.
//
// Not thread-safe: one splitter per connection, fed by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "element.h"

struct XML_ParserStruct;

namespace moxcollect {

class StreamSplitter {
 public:
  using ElementHandler = std::function<void(Element&& element, std::string&& raw)>;
  // message: what went wrong; excerpt: up to 80 bytes of the offending input.
  using ErrorHandler = std::function<void(const std::string& message, const std::string& excerpt)>;

  static constexpr size_t kDefaultMaxElementBytes = 64u << 20;

  StreamSplitter(ElementHandler onElement, ErrorHandler onError, size_t maxElementBytes = kDefaultMaxElementBytes);
  ~StreamSplitter();
  StreamSplitter(const StreamSplitter&) = delete;
  StreamSplitter& operator=(const StreamSplitter&) = delete;

  void feed(std::string_view bytes);

  // End of the stream. Returns true when an unfinished element was pending
  // (it is dropped: a fragment cut off by the peer is not a record).
  bool finish();

  uint64_t malformed() const { return malformed_; }

 private:
  struct ParserDeleter {
    void operator()(XML_ParserStruct* parser) const;
  };

  static void onStart(void* self, const char* name, const char** attributes);
  static void onEnd(void* self, const char* name);

  void restart();
  void parse(std::string_view& input, std::string& carry);
  // Drops what is in progress, reports it, and continues after the first line
  // feed at or after errorIndex (carry gets the bytes that follow it).
  void recover(std::string_view reason, uint64_t errorIndex, std::string& carry);
  std::string tooLong() const;
  void trimBuffer();
  std::string excerptAt(size_t offset) const;

  ElementHandler onElement_;
  ErrorHandler onError_;
  size_t maxElementBytes_;
  std::unique_ptr<XML_ParserStruct, ParserDeleter> parser_;

  // Bytes fed to the current parser, from stream index base_ on: kept from the
  // start of the open top-level element (or the end of the last one).
  std::string buffer_;
  uint64_t base_ = 0;
  uint64_t keepFrom_ = 0;
  uint64_t openStart_ = 0;

  int depth_ = 0;              // 1 = inside the synthetic root
  std::vector<Element> open_;  // the open top-level element and its open descendants
  bool skipping_ = false;      // discarding up to the next line feed after an error
  std::string stopReason_;     // why a callback stopped the parser
  uint64_t malformed_ = 0;
};

}  // namespace moxcollect
