// Strict UTF-8 validation: the rule every document and resource read follows (no replacement
// characters, no other encodings).
#pragma once

#include <cstddef>
#include <string_view>

// True when `bytes` is well-formed UTF-8 (no overlongs, surrogates or values above U+10FFFF).
bool isValidUTF8(std::string_view bytes);

// The offset of the first byte that is not part of well-formed UTF-8, or bytes.size().
std::size_t firstInvalidUTF8Offset(std::string_view bytes);
