#include "stream_splitter.h"

#include <expat.h>

#include <algorithm>
#include <cstdio>

namespace moxcollect {

namespace {

// The stream is parsed as the content of this element; it never reaches a record.
constexpr std::string_view kRoot = "<mox-stream>";

bool isXmlSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

StreamSplitter& splitterOf(void* self) { return *static_cast<StreamSplitter*>(self); }

}  // namespace

void StreamSplitter::ParserDeleter::operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }

StreamSplitter::StreamSplitter(ElementHandler onElement, ErrorHandler onError, size_t maxElementBytes)
    : onElement_(std::move(onElement)), onError_(std::move(onError)), maxElementBytes_(maxElementBytes) {
  restart();
}

StreamSplitter::~StreamSplitter() = default;

void StreamSplitter::restart() {
  parser_.reset(XML_ParserCreate("UTF-8"));
  XML_SetUserData(parser_.get(), this);
  XML_SetElementHandler(parser_.get(), &StreamSplitter::onStart, &StreamSplitter::onEnd);
  XML_SetCharacterDataHandler(parser_.get(), [](void* self, const char*, int) {
    // Text between top-level elements (the line feeds) is never needed again.
    StreamSplitter& s = splitterOf(self);
    if (s.depth_ == 1) {
      XML_Parser p = s.parser_.get();
      s.keepFrom_ =
          static_cast<uint64_t>(XML_GetCurrentByteIndex(p)) + static_cast<uint64_t>(XML_GetCurrentByteCount(p));
    }
  });
  buffer_.assign(kRoot);
  base_ = 0;
  keepFrom_ = kRoot.size();
  openStart_ = 0;
  depth_ = 0;
  open_.clear();
  stopReason_.clear();
  XML_Parse(parser_.get(), kRoot.data(), static_cast<int>(kRoot.size()), XML_FALSE);
}

void StreamSplitter::onStart(void* self, const char* name, const char** attributes) {
  StreamSplitter& s = splitterOf(self);
  ++s.depth_;
  if (s.depth_ < 2) return;
  try {
    if (s.depth_ == 2) s.openStart_ = static_cast<uint64_t>(XML_GetCurrentByteIndex(s.parser_.get()));
    Element element;
    element.name = name;
    for (const char** a = attributes; a[0] != nullptr; a += 2) element.attributes.emplace_back(a[0], a[1]);
    s.open_.push_back(std::move(element));
  } catch (...) {
    s.stopReason_ = "out of memory";
    XML_StopParser(s.parser_.get(), XML_FALSE);
  }
}

void StreamSplitter::onEnd(void* self, const char*) {
  StreamSplitter& s = splitterOf(self);
  const int depth = s.depth_--;
  if (depth == 1) {
    // The peer closed the synthetic root: what follows would be rejected as
    // a second document, so resynchronise after this line instead.
    s.stopReason_ = "end tag without a start tag";
    XML_StopParser(s.parser_.get(), XML_FALSE);
    return;
  }
  if (depth < 2 || s.open_.empty()) return;
  try {
    Element done = std::move(s.open_.back());
    s.open_.pop_back();
    if (depth > 2) {
      s.open_.back().children.push_back(std::move(done));
      return;
    }
    // For an empty-element tag the index is already past the tag and the count 0.
    XML_Parser p = s.parser_.get();
    const uint64_t end =
        static_cast<uint64_t>(XML_GetCurrentByteIndex(p)) + static_cast<uint64_t>(XML_GetCurrentByteCount(p));
    s.keepFrom_ = end;
    if (end - s.openStart_ > s.maxElementBytes_) {
      // Complete, but over the limit: dropped as it would have been had it come in pieces.
      ++s.malformed_;
      s.onError_(s.tooLong(), s.excerptAt(s.openStart_ - s.base_));
      return;
    }
    std::string raw = s.buffer_.substr(s.openStart_ - s.base_, end - s.openStart_);
    s.onElement_(std::move(done), std::move(raw));
  } catch (...) {
    s.stopReason_ = "out of memory";
    XML_StopParser(s.parser_.get(), XML_FALSE);
  }
}

void StreamSplitter::feed(std::string_view input) {
  std::string carry;  // input left over after a resynchronisation
  while (!input.empty()) {
    if (skipping_) {
      const size_t lineEnd = input.find('\n');
      if (lineEnd == std::string_view::npos) return;
      input.remove_prefix(lineEnd + 1);
      skipping_ = false;
      continue;
    }
    parse(input, carry);
  }
}

void StreamSplitter::parse(std::string_view& input, std::string& carry) {
  buffer_.append(input.data(), input.size());
  const XML_Status status = XML_Parse(parser_.get(), input.data(), static_cast<int>(input.size()), XML_FALSE);
  input = {};
  if (status == XML_STATUS_ERROR) {
    const std::string reason =
        stopReason_.empty() ? std::string(XML_ErrorString(XML_GetErrorCode(parser_.get()))) : stopReason_;
    const uint64_t errorAt = static_cast<uint64_t>(XML_GetCurrentByteIndex(parser_.get()));
    recover(reason, errorAt, carry);
    input = carry;
    return;
  }
  trimBuffer();
  if (buffer_.size() > maxElementBytes_) {
    // Still open: nothing of it can be a line feed that ends it, so skip from its start.
    recover(tooLong(), base_, carry);
    input = carry;
  }
}

std::string StreamSplitter::tooLong() const {
  return "element longer than " + std::to_string(maxElementBytes_) + " bytes";
}

void StreamSplitter::recover(std::string_view reason, uint64_t errorIndex, std::string& carry) {
  const uint64_t end = base_ + buffer_.size();
  const uint64_t errorAt = std::clamp<uint64_t>(errorIndex, base_, end);
  const uint64_t lostFrom = depth_ >= 2 ? openStart_ : std::min(errorAt, std::max(keepFrom_, base_));
  ++malformed_;
  onError_(std::string(reason), excerptAt(lostFrom - base_));

  const size_t lineEnd = buffer_.find('\n', errorAt - base_);
  carry = lineEnd == std::string::npos ? std::string() : buffer_.substr(lineEnd + 1);
  skipping_ = lineEnd == std::string::npos;
  restart();
}

void StreamSplitter::trimBuffer() {
  const uint64_t keep = depth_ >= 2 ? openStart_ : keepFrom_;
  if (keep <= base_) return;
  buffer_.erase(0, static_cast<size_t>(keep - base_));
  base_ = keep;
}

bool StreamSplitter::finish() {
  const uint64_t keep = depth_ >= 2 ? openStart_ : std::max(keepFrom_, base_);
  const auto rest = buffer_.begin() + static_cast<ptrdiff_t>(keep - base_);
  const bool pendingText = std::any_of(rest, buffer_.end(), [](char c) { return !isXmlSpace(c); });
  const bool unfinished = !skipping_ && (depth_ >= 2 || pendingText);
  skipping_ = false;
  restart();
  return unfinished;
}

std::string StreamSplitter::excerptAt(size_t offset) const {
  std::string out;
  const size_t stop = std::min(buffer_.size(), offset + 80);
  for (size_t i = std::min(offset, buffer_.size()); i < stop; ++i) {
    const unsigned char c = static_cast<unsigned char>(buffer_[i]);
    if (c >= 0x20 && c != 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace moxcollect
