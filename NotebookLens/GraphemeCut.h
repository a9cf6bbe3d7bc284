// GraphemeCut: byte lengths of the first or last N user-perceived characters (extended grapheme
// clusters) of a UTF-8 text, for cutting long texts without splitting a character. Pure and
// thread-safe; ASCII runs are counted without ICU.
#pragma once

#include <cstddef>
#include <string_view>

namespace GraphemeCut {

// Bytes taken by the first `count` grapheme clusters (the whole text when it holds fewer).
std::size_t prefixBytes(std::string_view utf8, std::size_t count);

// Bytes taken by the last `count` grapheme clusters (the whole text when it holds fewer).
std::size_t suffixBytes(std::string_view utf8, std::size_t count);

// The cluster boundary at or before `offset` (offset <= size).
std::size_t boundaryAtOrBefore(std::string_view utf8, std::size_t offset);

// The cluster boundary at or after `offset` (offset <= size).
std::size_t boundaryAtOrAfter(std::string_view utf8, std::size_t offset);

} // namespace GraphemeCut
