// FuzzSupport: what every fuzz target shares: a property check that stops the run with a
// message (libFuzzer then saves the input), and small helpers to split an input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace FuzzSupport {

// Stops the run when a property does not hold: the message and the failing input are kept.
inline void require(bool holds, const char* property) {
  if (holds)
    return;
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}

inline std::string_view bytes(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A byte string shown with C escapes, for messages.
inline std::string escaped(std::string_view text, std::size_t limit = 200) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
      out += buffer;
    }
  }
  if (text.size() > limit)
    out += "...";
  return out;
}

} // namespace FuzzSupport
