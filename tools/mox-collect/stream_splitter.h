// Splits one connection's byte stream into its top-level XML elements.
//
// The library writes metric lines and trace fragments back to back with no
// framing. Bytes may be fed in chunks cut anywhere (inside a tag, an escape or
// a multi-byte character); each complete top-level element is handed over
// exactly once, as soon as its last byte has been fed, together with its
// exact bytes as received. A framer finds where each element ends. An element
// is parsed in one go once complete, unless it holds parseInPiecesFrom bytes
// or more while waiting for the rest: from then on it is parsed as its bytes
// arrive (see ElementParser). So the work of each feed() is in proportion to
// the bytes it brings (but for a single tag that it completes, parsed whole,
// and the amortized growth of the element's buffers), and the cost of an
// element is linear in its size with any version of expat.
//
// Complete elements that lie whole in one feed() are read in runs, one call to
// the parser for many elements (see parseRun()); the outcome is the same as
// one by one.
//
// A malformed element (for example host text that was not escaped) does not
// end the stream: it is dropped, reported through the error callback, and
// reading resumes after the next line feed, which ends every text the library
// sends: the first one from the offending byte on, or, for a complete element
// the parser refuses, from its end on. The same happens to an element over one
// of its limits (bytes, nesting depth, memory: see ElementLimits) and to text
// outside any element. A large element the parser refuses while it arrives
// (not well-formed, or over its memory budget) is dropped at once, its bytes
// and tree freed; the framer follows it to its end all the same and it is
// reported there, so what comes out never depends on where the input is cut.
// A broken peer therefore cannot make the splitter hold more than one
// element's bytes and, while that is parsed, its tree within the element's
// budget; bytesHeld() says how much it holds, so that the owner can keep a
// budget across connections.
//
// An exception thrown by a callback propagates out of feed(); the rest of that
// input is lost, the splitter stays usable. Not thread-safe: one splitter per
// connection, fed by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "element.h"
#include "element_framer.h"
#include "element_limits.h"
#include "element_parser.h"

namespace moxcollect {

struct RunScratch;

class StreamSplitter {
 public:
  using ElementHandler = std::function<void(Element&& element, std::string&& raw)>;
  // message: what went wrong; excerpt: up to 80 bytes of the offending input.
  using ErrorHandler = std::function<void(const std::string& message, const std::string& excerpt)>;

  // Elements from this size on are parsed as they arrive.
  static constexpr size_t kParseInPiecesFrom = 64 * 1024;

  StreamSplitter(ElementHandler onElement, ErrorHandler onError, ElementLimits limits = {},
                 size_t parseInPiecesFrom = kParseInPiecesFrom);
  StreamSplitter(const StreamSplitter&) = delete;
  StreamSplitter& operator=(const StreamSplitter&) = delete;

  void feed(std::string_view bytes);

  // End of the stream. Returns true when an unfinished element was pending
  // (it is dropped: a fragment cut off by the peer is not a record).
  bool finish();

  uint64_t malformed() const { return malformed_; }

  // Whether the element handler gets the element's bytes (by default) or an
  // empty text, which spares copying them when nobody reads them.
  void keepRaw(bool keep) { keepRaw_ = keep; }
  // While the element handler runs: the size of the element as received.
  size_t elementBytes() const { return elementBytes_; }

  // The memory held between calls to feed(), besides the splitter's fixed
  // size: the bytes of the element in progress, the framer's stack and, for a
  // large element, what its parser counts (its copy and the tree so far).
  size_t bytesHeld() const;

 private:
  void split(std::string_view input);
  // Whether a complete element found in the input may be read in a run.
  bool runnable(const ElementFramer::Result& found, std::string_view element) const;
  // Whether the run has room for that element besides those it has.
  bool roomInRun(std::string_view element) const;
  // Parses the run and hands its elements over. Null when all were; else one
  // was refused and reported (see reject), the elements after it are not
  // handed over, and the input goes on from the returned byte, its end.
  const char* parseRun(const char* inputEnd);
  void handOverParsed(Element& element, std::string_view raw);
  // More bytes of the element in progress.
  void receive(std::string_view bytes);
  // The element's bytes end with `tail`; `following` is the input after it.
  void handOver(std::string_view tail, std::string_view following);
  // The last bytes of a large element to its parser, which has had the others.
  bool parseRest(std::string_view raw, Element& element, std::string& problem);
  // The parser refused the element in progress: it is dropped until its end.
  void refuse();
  // Drops the element in progress, whose bytes start with head and go on with
  // rest, reports it and skips to the next line feed.
  void reject(std::string_view problem, std::string_view head, std::string_view rest);
  void keep(std::string_view bytes);
  // Lets go of scratch storage that a large element left.
  void trimScratch();
  // Keeps the first bytes of a refused element, for the excerpt of its report.
  void keepHead(std::string_view bytes);
  void release();

  ElementHandler onElement_;
  ErrorHandler onError_;
  ElementLimits limits_;
  size_t parseInPiecesFrom_;
  ElementFramer framer_;
  std::string pending_;  // the element in progress, as far as it came in earlier chunks
  // The complete element and its bytes, handed over as rvalues: a handler
  // that swaps them with storage of its own gets them refilled in place.
  // Storage over kKeptScratchBytes is let go after each element.
  static constexpr size_t kKeptScratchBytes = 4096;
  Element element_;
  std::string raw_;
  std::string problem_;
  std::unique_ptr<ElementParser> parser_;  // while a large element is parsed as it arrives
  bool refused_ = false;                   // the element in progress is dropped
  std::string refusal_;                    // why
  // What the error callback gets, kept so that a flood of bad lines reuses them.
  std::string message_;
  std::string excerpt_;
  bool skipping_ = false;  // discarding up to the next line feed after an error
  // The run: complete elements of the current feed() not yet parsed, at most
  // kRunElements from the first to the end of the last within kRunBytes, so
  // that expat's buffer stays small. Its storage is the thread's, lent for
  // the length of a feed() (see RunScratch).
  static constexpr size_t kRunElements = 128;
  static constexpr size_t kRunBytes = 64 * 1024;
  RunScratch* run_ = nullptr;
  uint64_t malformed_ = 0;
  bool keepRaw_ = true;
  size_t elementBytes_ = 0;
};

}  // namespace moxcollect
