// The collector's stream splitter against any bytes a peer can send: no crash,
// no leak, no read outside a buffer, and the same elements (trees and bytes)
// and the same count of dropped ones whether the stream arrives in one piece,
// its elements parsed in runs, or cut into pieces of the size the input's first byte
// chooses, each element parsed as it arrives from the size that byte chooses
// too. Small limits, so that inputs of a few kilobytes reach every limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "stream_splitter.h"

namespace {

// The tree as text: name, attributes and children, each length-prefixed so that no two trees read alike.
void describe(const moxcollect::Element& e, std::string& out) {
  const auto add = [&out](const std::string& text) { out += std::to_string(text.size()) + ":" + text; };
  add(e.name);
  out += "(";
  for (const auto& [name, value] : e.attributes) add(name), add(value);
  out += "){";
  for (const moxcollect::Element& child : e.children) describe(child, out);
  out += "}";
}

struct Outcome {
  std::vector<std::string> elements;  // their trees and raw bytes, in order
  uint64_t malformed = 0;
  bool unfinished = false;

  bool operator==(const Outcome& other) const {
    return elements == other.elements && malformed == other.malformed && unfinished == other.unfinished;
  }
};

Outcome split(std::string_view stream, size_t piece, size_t parseInPiecesFrom) {
  moxcollect::ElementLimits limits;
  limits.maxBytes = 4096;
  limits.maxDepth = 16;
  limits.maxMemory = 64 * 1024;
  Outcome outcome;
  moxcollect::StreamSplitter splitter(
      [&](moxcollect::Element&& element, std::string&& raw) {
        std::string text;
        describe(element, text);
        outcome.elements.push_back(text + raw);
      },
      [](const std::string&, const std::string&) {}, limits, parseInPiecesFrom);
  for (size_t at = 0; at < stream.size(); at += piece) splitter.feed(stream.substr(at, piece));
  outcome.unfinished = splitter.finish();
  outcome.malformed = splitter.malformed();
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = size_t{data[0]} % 16 + 1;
  const size_t parseInPiecesFrom = size_t{data[0]} / 16 * 32;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  const Outcome whole = split(stream, stream.size() + 1, moxcollect::StreamSplitter::kParseInPiecesFrom);
  if (!(whole == split(stream, piece, parseInPiecesFrom))) std::abort();
  return 0;
}
