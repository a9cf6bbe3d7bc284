#include "Foundation/UTF8.h"

#include <cstdint>
#include <cstring>

std::size_t firstInvalidUTF8Offset(std::string_view bytes) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Fast path: eight ASCII bytes at a time.
    if (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, s + i, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        i += 8;
        continue;
      }
    }
    std::uint8_t c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0)
        lo = 0xA0;
      if (c == 0xED)
        hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0)
        lo = 0x90;
      if (c == 0xF4)
        hi = 0x8F;
    } else {
      return i;
    }
    if (i + len > n)
      return i;
    if (s[i + 1] < lo || s[i + 1] > hi)
      return i;
    for (std::size_t k = 2; k < len; ++k)
      if ((s[i + k] & 0xC0) != 0x80)
        return i;
    i += len;
  }
  return n;
}

bool isValidUTF8(std::string_view bytes) {
  return firstInvalidUTF8Offset(bytes) == bytes.size();
}
