// GraphemeCut: the user-perceived character (extended grapheme cluster) boundary nearest a byte
// offset of a UTF-8 text, for cutting a text at a byte budget without splitting a character.
// Pure and thread-safe (each thread keeps its own ICU iterator).
#pragma once

#include <cstddef>
#include <string_view>

namespace GraphemeCut {

// The cluster boundary at or before `offset` (offset <= size).
std::size_t boundaryAtOrBefore(std::string_view utf8, std::size_t offset);

// The cluster boundary at or after `offset` (offset <= size).
std::size_t boundaryAtOrAfter(std::string_view utf8, std::size_t offset);

} // namespace GraphemeCut
