// The sink of all metric text and transaction traces.
//
// Each instance is used by one dispatcher thread at a time, so agents need no
// lock of their own. No operation throws.
#pragma once

#include <string>

class CMTDataSendingAgent {
 public:
  // Whether data can be sent now; asked before each batch.
  virtual bool checkConnection() = 0;
  // Writes or sends one piece of text, consuming it. Line ends come with the text.
  virtual void sendData(std::u16string text) = 0;
  // Whether the text of the last sendData was lost (it reached no
  // destination), so that a caller does not report it as sent.
  virtual bool lastSendFailed() const { return false; }
  // Text coming back from the destination; nothing in the library reads it.
  virtual std::u16string receiveData() = 0;
  virtual ~CMTDataSendingAgent() = default;
};
