// Hash of a session key, which picks the key's bucket in the registry.
#pragma once

#include <cstdint>
#include <string_view>

// Seeded with the key's last code unit, then h = (h * 16777491) ^ c over the
// code units up to the first NUL, bit 31 cleared. The empty key hashes to 0.
uint32_t contextKeyHash(std::u16string_view key);
