#include "dptrc/trc_sink.h"

#include <cerrno>
#include <string>

#include "common/number_text.h"
#include "common/utf.h"
#include "dptrc/trc_output.h"
#include "port/quiet_write.h"
#include "port/standard_error_write.h"

namespace {

ssize_t writeOnce(const TrcOutput& out, const char* data, size_t size) {
  if (out.standardError) return portWriteStandardErrorNoWait(data, size);
  return portWriteQuietly(out.fd, data, size);
}

// As much of bytes as out takes now; true when it took all of them.
bool writeAll(TrcOutput& out, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = writeOnce(out, bytes.data() + done, bytes.size() - done);
    if (written <= 0) {
      // Only a file holding more than its header can make room by rotating.
      if (written < 0 && errno == EFBIG && out.regularFile && out.bytes > out.headerEnd) out.full = true;
      break;
    }
    done += static_cast<size_t>(written);
    out.bytes += static_cast<uint64_t>(written);
  }
  if (done == bytes.size()) {
    out.cut = false;
    return true;
  }
  if (done > 0) out.cut = true;
  return false;
}

std::string dropNote(const TrcOutput& out) REQUIRES(trcLock) {
  std::u16string line;
  if (out.cut) line.push_back(u'\n');
  line.push_back(out.lastLetter != 0 ? out.lastLetter : u'M');
  line.append(u"  ");
  trcAppendThreadTag(line);
  line.append(u"... ");
  appendDecimal(line, static_cast<uint64_t>(out.dropped));
  line.append(u" trace writes dropped: the output could not take them without waiting\n");
  return utf16ToUtf8Lenient(line);
}

// False when a note was owed and not taken.
bool writeDropNote(TrcOutput& out) REQUIRES(trcLock) {
  if (out.dropped == 0) return true;
  if (!writeAll(out, dropNote(out))) return false;
  out.dropped = 0;
  return true;
}

}  // namespace

void trcEmit(std::u16string_view text) {
  TrcState& state = trcState();
  appendUtf16AsUtf8Lenient(text, state.pending);
}

void trcEmitAscii(std::string_view text) { trcState().pending.append(text); }

void trcFlush(TrcOutput& out) {
  std::string& pending = trcState().pending;
  if (pending.empty()) return;
  if (!writeDropNote(out) || !writeAll(out, pending)) ++out.dropped;
  pending.clear();
}

void trcFlushDropNote(TrcOutput& out) {
  try {
    writeDropNote(out);
  } catch (...) {
    // Out of memory for the note: the count is lost with the output.
  }
}
