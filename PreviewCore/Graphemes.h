// Graphemes: user-perceived characters (extended grapheme clusters, ICU's rules) of UTF-8 text,
// without converting it. ASCII is segmented directly: between two ASCII characters there is
// always a boundary except inside CR LF, and a control character is always a cluster of its own
// (CR LF excepted), so ICU's BreakIterator only runs over the stretches that hold non-ASCII
// text. The results are exactly ICU's. Thread-safe (each thread keeps its own BreakIterator).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace Graphemes {

namespace detail {
inline bool isASCII(unsigned char c) {
  return c < 0x80;
}
inline bool isControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}
// True when a boundary at `offset` (0 < offset < size) follows from the bytes around it alone.
inline bool isKnownBoundary(std::string_view text, std::size_t offset) {
  const unsigned char before = static_cast<unsigned char>(text[offset - 1]);
  const unsigned char after = static_cast<unsigned char>(text[offset]);
  if (before == '\r' && after == '\n')
    return false;
  return (isASCII(before) && isASCII(after)) || isControl(before) || isControl(after);
}
// True when the code point that ends right before `offset` has Grapheme_Cluster_Break Prepend.
bool isPrepend(std::string_view text, std::size_t offset);
// True when the code point at `offset` is Extend, ZWJ or SpacingMark.
bool isExtending(std::string_view text, std::size_t offset);
// Calls onEnd(context, end) for ICU's cluster ends inside `region` (which starts and ends on
// boundaries), as offsets from the region's start, ascending, the last one region.size(),
// while onEnd returns true. Returns false when stopped.
bool forEachClusterEnd(std::string_view region, bool (*onEnd)(void*, std::size_t), void* context);
// Steps back over up to `count` clusters from the end of `region` (which starts and ends on
// boundaries) with ICU's reverse iteration; lowers `count` by the clusters passed and returns
// the offset reached.
std::size_t stepBackClusters(std::string_view region, std::size_t& count);
} // namespace detail

// Calls visit(cluster) for each cluster in order while it returns true. Returns false when
// the visit was stopped.
template <class Visit> bool forEachGraphemeCluster(std::string_view text, Visit&& visit) {
  using detail::isASCII;
  using detail::isControl;
  const std::size_t size = text.size();
  std::size_t at = 0;
  using VisitType = std::remove_reference_t<Visit>;
  struct Region {
    std::string_view text;
    std::size_t start;
    VisitType* visit;
  };
  while (at < size) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (isASCII(c)) {
      if (c == '\r' && at + 1 < size && text[at + 1] == '\n') {
        if (!visit(text.substr(at, 2)))
          return false;
        at += 2;
        continue;
      }
      if (at + 1 == size || isASCII(static_cast<unsigned char>(text[at + 1])) || isControl(c)) {
        if (!visit(text.substr(at, 1)))
          return false;
        ++at;
        continue;
      }
    }
    std::size_t end = at + 1;
    while (end < size && !detail::isKnownBoundary(text, end))
      ++end;
    Region region{text.substr(at, end - at), 0, &visit};
    const bool finished = detail::forEachClusterEnd(
        region.text,
        [](void* context, std::size_t clusterEnd) {
          Region& r = *static_cast<Region*>(context);
          const bool goOn = (*r.visit)(r.text.substr(r.start, clusterEnd - r.start));
          r.start = clusterEnd;
          return goOn;
        },
        &region);
    if (!finished)
      return false;
    at = end;
  }
  return true;
}

// Calls visit(offset) for each cluster that is exactly one of the printable ASCII characters
// in `characters`, in text order, while it returns true (a "$" carrying a combining mark is not
// visited). Returns false when the visit was stopped. Such a character is a cluster of its own
// unless the code point before it is a prepended concatenation mark (Grapheme_Cluster_Break
// Prepend) or the one after it extends it (Extend, ZWJ, SpacingMark): ICU's properties decide,
// with no segmentation run, so this stays fast on long texts.
template <class Visit>
bool forEachSingleByteCluster(std::string_view text, std::string_view characters, Visit&& visit);

// The number of clusters in `text`.
std::size_t graphemeClusterCount(std::string_view text);

// The byte length of the first `count` clusters (the whole text when it has fewer).
std::size_t graphemeClusterPrefixBytes(std::string_view text, std::size_t count);

// The byte length of the last `count` clusters (the whole text when it has fewer).
std::size_t graphemeClusterSuffixBytes(std::string_view text, std::size_t count);

template <class Visit>
bool forEachSingleByteCluster(std::string_view text, std::string_view characters, Visit&& visit) {
  const std::size_t size = text.size();
  std::uint64_t wanted[2] = {0, 0}; // one bit per ASCII character
  for (char c : characters)
    if (detail::isASCII(static_cast<unsigned char>(c)))
      wanted[c >> 6] |= std::uint64_t{1} << (c & 63);
  for (std::size_t at = 0; at < size; ++at) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (!detail::isASCII(c) || !(wanted[c >> 6] & (std::uint64_t{1} << (c & 63))))
      continue;
    if (at > 0 && !detail::isASCII(static_cast<unsigned char>(text[at - 1])) &&
        detail::isPrepend(text, at))
      continue;
    if (at + 1 < size && !detail::isASCII(static_cast<unsigned char>(text[at + 1])) &&
        detail::isExtending(text, at + 1))
      continue;
    if (!visit(at))
      return false;
  }
  return true;
}

} // namespace Graphemes
