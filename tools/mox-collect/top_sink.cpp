#include "top_sink.h"

namespace moxcollect {

void TopSink::write(const Record& record) {
  table_.add(record);
  dropped_ = table_.droppedKeys();
}

void TopSink::tick(TimePoint now) {
  if (!live_) return;
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
  if (live_) out_ << "\x1b[H\x1b[2J";
  out_ << table_.render(rows_);
  out_.flush();
}

}  // namespace moxcollect
