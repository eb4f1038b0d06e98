#include "mox/context/passport_elements.h"

#include "common/number_text.h"
#include "mox/context/passport_hex.h"

bool readTransactionId(EppHandle passport, std::u16string& out) {
  char16_t field[EPP_TRANSACTION_ID_MAX];
  size_t length = 0;
  if (eppGetTransactionId(passport, EPP_TRANSACTION_ID_MAX, field, &length) != EPP_OK) {
    out.clear();
    return false;
  }
  // The library fills the field up with blanks: all of it is the value.
  out.assign(field, EPP_TRANSACTION_ID_MAX);
  return true;
}

bool readConnectionIds(EppHandle passport, ConnectionIds& out) {
  uint8_t root[EPP_ID_BYTES];
  uint8_t connection[EPP_ID_BYTES];
  uint32_t counter = 0;
  if (eppGetRootContextId(passport, root) != EPP_OK || eppGetConnectionId(passport, connection) != EPP_OK ||
      eppGetConnectionCounter(passport, &counter) != EPP_OK) {
    out = ConnectionIds();
    return false;
  }
  out.rootContextId = BytesToHex(root, EPP_ID_BYTES);
  out.connectionId = BytesToHex(connection, EPP_ID_BYTES);
  out.connectionCounter = counter;
  return true;
}

std::u16string passportElementText(uint16_t element, std::u16string_view transactionId,
                                   std::u16string_view rootContextId, std::u16string_view connectionId,
                                   uint32_t connectionCounter) {
  switch (element) {
    case kTransactionIdElement: return std::u16string(transactionId);
    case kRootContextIdElement: return std::u16string(rootContextId);
    case kConnectionIdElement: return std::u16string(connectionId);
    case kConnectionCounterElement: {
      std::u16string text;
      appendDecimal(text, connectionCounter);  // unsigned, as the passport holds it
      return text;
    }
    default: return std::u16string();
  }
}
