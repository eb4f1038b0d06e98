// End-to-end passports in their hexadecimal text form, written byte by byte here, independently of the passport
// library: component "orders", action "POST", previous component "gateway", transaction id "TX-42" (versions 2 and 3),
// root context id 10..1F, connection id C0..CF and the connection counter (version 3).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

inline std::u16string wirePassport(uint8_t version, uint16_t flag, uint32_t counter = 7) {
  std::vector<uint8_t> b = {'*', 'T', 'H', '*', version, 0, 0, uint8_t(flag & 0xFF), uint8_t(flag >> 8)};
  auto text = [&](const std::string& value, size_t width) {
    for (size_t i = 0; i < width; ++i) b.push_back(i < value.size() ? uint8_t(value[i]) : uint8_t(' '));
  };
  auto number = [&](uint64_t value, int bytes) {
    while (bytes-- > 0) b.push_back(uint8_t(value >> (8 * bytes)));
  };
  text("orders", 32), number(0, 2), text("", 32), text("POST", 40), number(0, 2), text("gateway", 32);
  if (version == 1) number(0, 7);
  if (version >= 2) text("TX-42", 32);
  if (version == 3) {
    text("", 3), number(8, 2);
    for (uint8_t i = 0; i < 32; ++i) b.push_back(uint8_t(i < 16 ? 0x10 + i : 0xB0 + i));
    number(counter, 4), number(0, 2), number(226, 2);
  }
  text("*TH*", 4);
  b[5] = uint8_t(b.size() >> 8), b[6] = uint8_t(b.size());
  std::u16string hex;
  for (uint8_t byte : b) hex += {u"0123456789ABCDEF"[byte >> 4], u"0123456789ABCDEF"[byte & 15]};
  return hex;
}

}  // namespace testsupport
