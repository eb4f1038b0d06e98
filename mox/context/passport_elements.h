// The elements of an end-to-end passport that a context keeps and hands to
// the host: transaction id, root context id, connection id and connection
// counter, read from a passport and printed as the element getters print
// them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "passport/epp.h"

enum PassportElement : uint16_t {
  kTransactionIdElement = 1,
  kRootContextIdElement = 2,
  kConnectionIdElement = 3,
  kConnectionCounterElement = 4,
};

// The transaction id in a field of 32 characters, filled up with blanks;
// false (out empty) when the passport has none (version 1) or cannot be read.
bool readTransactionId(EppHandle passport, std::u16string& out);

// The version 3 ids as 32 hexadecimal digits each, and the counter; false
// (all three cleared) when any of them cannot be read.
struct ConnectionIds {
  std::u16string rootContextId;
  std::u16string connectionId;
  uint32_t connectionCounter = 0;
};
bool readConnectionIds(EppHandle passport, ConnectionIds& out);

// Element 1 transactionId, 2 rootContextId, 3 connectionId, 4 the counter
// in unsigned decimal; any other number the empty string.
std::u16string passportElementText(uint16_t element, std::u16string_view transactionId,
                                   std::u16string_view rootContextId, std::u16string_view connectionId,
                                   uint32_t connectionCounter);
