// The sink of all metric text and transaction traces.
//
// Each instance is used by one dispatcher thread at a time, so agents need no
// lock of their own. No operation throws.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class CMTDataSendingAgent {
 public:
  // Whether data can be sent now; asked before each batch.
  virtual bool checkConnection() = 0;
  // Writes or sends one piece of text, consuming it. Line ends come with the text.
  virtual void sendData(std::u16string text) = 0;
  // Whether the text of the last sendData was lost (it reached no
  // destination), so that a caller does not report it as sent.
  virtual bool lastSendFailed() const { return false; }
  // Whether the agent takes many texts gathered into one UTF-8 piece
  // (appendUtf8, then sendUtf8) in place of one sendData per text.
  virtual bool takesChunks() const { return false; }
  // Appends the UTF-8 form this agent sends for text to out; false, with out
  // unchanged, when the agent would not send text at all.
  virtual bool appendUtf8(std::u16string_view text, std::string& out) {
    static_cast<void>(text);
    static_cast<void>(out);
    return false;
  }
  // Writes or sends the UTF-8 of texts texts gathered by appendUtf8 as
  // sendData would, at once; lastSendFailed then tells about all of them.
  virtual void sendUtf8(const std::string& bytes, size_t texts) {
    static_cast<void>(bytes);
    static_cast<void>(texts);
  }
  // Text coming back from the destination; nothing in the library reads it.
  virtual std::u16string receiveData() = 0;
  virtual ~CMTDataSendingAgent() = default;
};
