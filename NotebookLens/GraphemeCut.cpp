#include "NotebookLens/GraphemeCut.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <unicode/brkiter.h>
#include <unicode/utext.h>

namespace {

bool isContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// ICU reports positions as 32-bit offsets; longer texts fall back to code-point boundaries.
bool fitsICU(std::string_view utf8) {
  return utf8.size() <= static_cast<std::size_t>(std::numeric_limits<int32_t>::max());
}

// One character-break iterator per thread: creating one is costly, sharing one is not safe.
icu::BreakIterator* threadIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> created(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    return U_SUCCESS(status) ? std::move(created) : nullptr;
  }();
  return iterator.get();
}

// Runs `body` with the thread's iterator set on `utf8` (no copy of the text). Returns nullopt
// when ICU cannot take the text.
template <class Body> std::optional<std::size_t> withIterator(std::string_view utf8, Body body) {
  icu::BreakIterator* iterator = threadIterator();
  if (!iterator || !fitsICU(utf8))
    return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  UText* text = utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status);
  iterator->setText(text, status);
  std::optional<std::size_t> result;
  if (U_SUCCESS(status))
    result = body(*iterator);
  utext_close(text);
  return result;
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
