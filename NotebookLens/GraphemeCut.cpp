#include "NotebookLens/GraphemeCut.h"

#include "PreviewCore/ICUText.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

namespace {

bool isContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// ICU reports positions as 32-bit offsets; longer texts fall back to code-point boundaries.
bool fitsICU(std::string_view utf8) {
  return utf8.size() <= static_cast<std::size_t>(std::numeric_limits<int32_t>::max());
}

// Runs `body` with the thread's iterator set on `utf8` (no copy of the text). Returns nullopt
// when the text is too long for ICU's offsets.
template <class Body> std::optional<std::size_t> withIterator(std::string_view utf8, Body body) {
  if (!fitsICU(utf8))
    return std::nullopt;
  ICUText text(utf8);
  return body(characterBreakIterator(text));
}

} // namespace

namespace GraphemeCut {

std::size_t boundaryAtOrBefore(std::string_view utf8, std::size_t offset) {
  if (offset >= utf8.size())
    return utf8.size();
  // ICU moves an offset inside a code point to that code point's start before looking for a
  // boundary before it, which would skip the code point's own start; begin from there instead.
  while (offset > 0 && isContinuationByte(utf8[offset]))
    --offset;
  if (offset == 0)
    return 0;
  auto result = withIterator(utf8, [&](icu::BreakIterator& iterator) {
    const int32_t position = static_cast<int32_t>(offset);
    if (iterator.isBoundary(position))
      return offset;
    const int32_t before = iterator.preceding(position);
    return before == icu::BreakIterator::DONE ? std::size_t{0} : static_cast<std::size_t>(before);
  });
  return result ? *result : offset;
}

std::size_t boundaryAtOrAfter(std::string_view utf8, std::size_t offset) {
  while (offset < utf8.size() && isContinuationByte(utf8[offset]))
    ++offset;
  if (offset == 0 || offset >= utf8.size())
    return std::min(offset, utf8.size());
  auto result = withIterator(utf8, [&](icu::BreakIterator& iterator) {
    const int32_t position = static_cast<int32_t>(offset);
    if (iterator.isBoundary(position))
      return offset;
    const int32_t after = iterator.following(position);
    return after == icu::BreakIterator::DONE ? utf8.size() : static_cast<std::size_t>(after);
  });
  return result ? *result : offset;
}

} // namespace GraphemeCut
