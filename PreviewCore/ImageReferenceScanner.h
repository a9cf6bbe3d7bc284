// ImageReferenceScanner: finds the inline image references of a UTF-8 text with the shared
// image pattern, giving exactly the leftmost non-overlapping matches a plain regex search would,
// in time linear in the text's length (a plain search is quadratic on inputs such as "![![![…").
// Stateless; safe on any number of threads.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace InlineLocalAssets {

// The image pattern (ICU syntax) shared by the Markdown and notebook inliners:
// "!\[([^\]]*)\]\(([^)\s\"]+)(\s+\"[^\"]*\")?\)". Compiled once per process, on first use.
const icu::RegexPattern& imagePattern();

// One match: byte ranges into the scanned text. `title` is empty (start == end) when the
// optional title group did not take part.
struct ImageReference {
  std::size_t start = 0, end = 0;
  std::size_t altStart = 0, altEnd = 0;
  std::size_t destinationStart = 0, destinationEnd = 0;
  std::size_t titleStart = 0, titleEnd = 0;
};

// Calls `visit` for each match, from left to right.
void forEachImageReference(std::string_view utf8,
                           const std::function<void(const ImageReference&)>& visit);

} // namespace InlineLocalAssets
