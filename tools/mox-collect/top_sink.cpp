#include "top_sink.h"

namespace moxcollect {

void TopSink::tick(TimePoint now) {
  if (!next_) {
    next_ = now + interval_;
    return;
  }
  if (now < *next_) return;
  draw();
  next_ = now + interval_;
}

void TopSink::finish() {
  draw();
  flush();
}

void TopSink::draw() {
  if (clearScreen_) out_ << "\x1b[H\x1b[2J";
  out_ << table_.render(rows_) << (clearScreen_ ? "" : "\n");
  out_.flush();
}

}  // namespace moxcollect
