#include "PreviewCore/Graphemes.h"

#include "PreviewCore/ICUText.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace Graphemes {

bool detail::forEachClusterEnd(std::string_view region, bool (*onEnd)(void*, std::size_t),
                               void* context) {
  ICUText text(region);
  icu::BreakIterator& iterator = characterBreakIterator(text);
  std::size_t last = 0;
  for (int32_t end = iterator.next(); end != icu::BreakIterator::DONE; end = iterator.next()) {
    last = static_cast<std::size_t>(end);
    if (!onEnd(context, last))
      return false;
  }
  return last == region.size() || onEnd(context, region.size());
}

std::size_t detail::stepBackClusters(std::string_view region, std::size_t& count) {
  ICUText text(region);
  icu::BreakIterator& iterator = characterBreakIterator(text);
  int32_t at = iterator.last();
  while (count > 0 && at > 0) {
    const int32_t before = iterator.previous();
    if (before == icu::BreakIterator::DONE)
      break;
    at = before;
    --count;
  }
  return at <= 0 ? 0 : static_cast<std::size_t>(at);
}

bool detail::isPrepend(std::string_view text, std::size_t offset) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  int32_t index = static_cast<int32_t>(offset);
  UChar32 c;
  U8_PREV(bytes, 0, index, c);
  return c >= 0 && u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK) == U_GCB_PREPEND;
}

bool detail::isExtending(std::string_view text, std::size_t offset) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  int32_t index = static_cast<int32_t>(offset);
  UChar32 c;
  U8_NEXT(bytes, index, static_cast<int32_t>(text.size()), c);
  if (c < 0)
    return false;
  const int32_t kind = u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK);
  return kind == U_GCB_EXTEND || kind == U_GCB_ZWJ || kind == U_GCB_SPACING_MARK;
}

std::size_t graphemeClusterCount(std::string_view text) {
  std::size_t count = 0;
  forEachGraphemeCluster(text, [&](std::string_view) {
    ++count;
    return true;
  });
  return count;
}

std::size_t graphemeClusterPrefixBytes(std::string_view text, std::size_t count) {
  std::size_t bytes = 0;
  if (count == 0)
    return 0;
  forEachGraphemeCluster(text, [&](std::string_view cluster) {
    bytes += cluster.size();
    return --count > 0;
  });
  return bytes;
}

std::size_t graphemeClusterSuffixBytes(std::string_view text, std::size_t count) {
  using detail::isASCII;
  using detail::isControl;
  std::size_t end = text.size();
  while (count > 0 && end > 0) {
    const unsigned char last = static_cast<unsigned char>(text[end - 1]);
    if (last == '\n' && end >= 2 && text[end - 2] == '\r') {
      end -= 2;
      --count;
      continue;
    }
    if (isASCII(last) && (end == 1 || detail::isKnownBoundary(text, end - 1))) {
      --end;
      --count;
      continue;
    }
    // Back to the nearest boundary that the bytes alone prove; ICU steps back within it.
    std::size_t start = end - 1;
    while (start > 0 && !detail::isKnownBoundary(text, start))
      --start;
    end = start + detail::stepBackClusters(text.substr(start, end - start), count);
  }
  return text.size() - end;
}

} // namespace Graphemes
