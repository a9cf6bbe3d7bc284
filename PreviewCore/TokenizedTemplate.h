// TokenizedTemplate: a page template split once into literal text and %%NAME%% placeholders,
// then filled many times. Pure functions; a parsed template is immutable and shareable.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace TokenizedTemplate {

struct Segment {
  enum class Kind { literal, token };
  Kind kind;
  // The literal text, or the token's name (without the delimiters).
  std::string text;

  static Segment literal(std::string text) { return {Kind::literal, std::move(text)}; }
  static Segment token(std::string name) { return {Kind::token, std::move(name)}; }
  friend bool operator==(const Segment&, const Segment&) = default;
};

using Values = std::map<std::string, std::string, std::less<>>;
// Values that refer to texts owned elsewhere, so that large values (inlined scripts) are copied
// once, straight into the page.
using ValueViews = std::map<std::string_view, std::string_view, std::less<>>;

// Splits a template text into segments. Never fails; malformed delimiters stay literal.
std::vector<Segment> parse(std::string_view text);

// The one fill: appends the segments in order to `out`, each literal as it is and each token
// through appendValue(out, name), which appends the token's value (or nothing). A renderer that
// writes a large value itself (a notebook's JSON) does so straight into the page this way.
template <class AppendValue>
void fillInto(std::string& out, const std::vector<Segment>& segments, AppendValue&& appendValue) {
  for (const Segment& segment : segments) {
    if (segment.kind == Segment::Kind::literal)
      out.append(segment.text);
    else
      appendValue(out, std::string_view(segment.text));
  }
}

// The length of the filled page, each token counted as valueSize(name) bytes: what to reserve
// before fillInto so that the page is written into one buffer.
template <class ValueSize>
std::size_t filledSize(const std::vector<Segment>& segments, ValueSize&& valueSize) {
  std::size_t size = 0;
  for (const Segment& segment : segments)
    size += segment.kind == Segment::Kind::literal ? segment.text.size()
                                                   : valueSize(std::string_view(segment.text));
  return size;
}

// Fills the segments with `values` (missing names give nothing), inserting values verbatim,
// into one buffer sized in advance.
std::string render(const std::vector<Segment>& segments, const Values& values);
std::string renderViews(const std::vector<Segment>& segments, const ValueViews& values);

} // namespace TokenizedTemplate
