#include "GraphemeCut.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <unicode/brkiter.h>
#include <unicode/utext.h>

namespace {

bool isASCII(char c) {
  return (static_cast<unsigned char>(c) & 0x80) == 0;
}
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

// Code-point stepping, used only when ICU cannot take the text.
std::size_t codePointPrefixBytes(std::string_view utf8, std::size_t count) {
  std::size_t position = 0;
  for (std::size_t i = 0; i < count && position < utf8.size(); ++i)
    do
      ++position;
    while (position < utf8.size() && isContinuationByte(utf8[position]));
  return position;
}

std::size_t codePointSuffixStart(std::string_view utf8, std::size_t count) {
  std::size_t position = utf8.size();
  for (std::size_t i = 0; i < count && position > 0; ++i)
    do
      --position;
    while (position > 0 && isContinuationByte(utf8[position]));
  return position;
}

// The first `count` clusters of `utf8`, which starts at a cluster boundary.
std::size_t icuPrefixBytes(std::string_view utf8, std::size_t count) {
  auto result = withIterator(utf8, [&](icu::BreakIterator& iterator) {
    int32_t position = iterator.first();
    for (std::size_t i = 0; i < count; ++i) {
      int32_t next = iterator.next();
      if (next == icu::BreakIterator::DONE)
        break;
      position = next;
    }
    return static_cast<std::size_t>(position);
  });
  return result ? *result : codePointPrefixBytes(utf8, count);
}

// Where the last `count` clusters of `utf8` begin; `utf8` ends at a cluster boundary.
std::size_t icuSuffixStart(std::string_view utf8, std::size_t count) {
  auto result = withIterator(utf8, [&](icu::BreakIterator& iterator) {
    int32_t position = iterator.last();
    for (std::size_t i = 0; i < count; ++i) {
      int32_t previous = iterator.previous();
      if (previous == icu::BreakIterator::DONE)
        break;
      position = previous;
    }
    return static_cast<std::size_t>(position);
  });
  return result ? *result : codePointSuffixStart(utf8, count);
}

std::size_t crlfLengthEndingAt(std::string_view utf8, std::size_t end) {
  return (utf8[end - 1] == '\n' && end >= 2 && utf8[end - 2] == '\r') ? 2 : 1;
}

} // namespace

namespace GraphemeCut {

// Between two ASCII characters there is always a cluster boundary, except inside CR LF. Next
// to a non-ASCII character nothing is certain (a combining mark joins the character before
// it, a prepended mark the one after it), so the scan hands over to ICU at the last position
// that is certainly a boundary.
std::size_t prefixBytes(std::string_view utf8, std::size_t count) {
  std::size_t position = 0;
  std::size_t clusters = 0;
  while (clusters < count && position < utf8.size() && isASCII(utf8[position])) {
    std::size_t length =
        (utf8[position] == '\r' && position + 1 < utf8.size() && utf8[position + 1] == '\n') ? 2
                                                                                             : 1;
    std::size_t next = position + length;
    if (next < utf8.size() && !isASCII(utf8[next]))
      break;
    position = next;
    ++clusters;
  }
  if (clusters == count || position == utf8.size())
    return position;
  return position + icuPrefixBytes(utf8.substr(position), count - clusters);
}

std::size_t suffixBytes(std::string_view utf8, std::size_t count) {
  std::size_t start = utf8.size();
  std::size_t clusters = 0;
  while (clusters < count && start > 0 && isASCII(utf8[start - 1])) {
    std::size_t length = crlfLengthEndingAt(utf8, start);
    std::size_t clusterStart = start - length;
    if (clusterStart > 0 && !isASCII(utf8[clusterStart - 1]))
      break;
    start = clusterStart;
    ++clusters;
  }
  if (clusters == count || start == 0)
    return utf8.size() - start;
  return utf8.size() - icuSuffixStart(utf8.substr(0, start), count - clusters);
}

std::size_t boundaryAtOrBefore(std::string_view utf8, std::size_t offset) {
  if (offset >= utf8.size())
    return utf8.size();
  auto result = withIterator(utf8, [&](icu::BreakIterator& iterator) {
    int32_t position = static_cast<int32_t>(offset);
    return static_cast<std::size_t>(iterator.isBoundary(position) ? position
                                                                  : iterator.preceding(position));
  });
  if (result)
    return *result;
  while (offset > 0 && isContinuationByte(utf8[offset]))
    --offset;
  return offset;
}

std::size_t boundaryAtOrAfter(std::string_view utf8, std::size_t offset) {
  if (offset >= utf8.size())
    return utf8.size();
  auto result = withIterator(utf8, [&](icu::BreakIterator& iterator) {
    int32_t position = static_cast<int32_t>(offset);
    return static_cast<std::size_t>(iterator.isBoundary(position) ? position
                                                                  : iterator.following(position));
  });
  if (result)
    return *result;
  while (offset < utf8.size() && isContinuationByte(utf8[offset]))
    ++offset;
  return offset;
}

} // namespace GraphemeCut
