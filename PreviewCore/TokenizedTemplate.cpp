#include "PreviewCore/TokenizedTemplate.h"

namespace TokenizedTemplate {

namespace {

constexpr std::string_view kDelimiter = "%%";

template <class Dictionary>
std::string fill(const std::vector<Segment>& segments, const Dictionary& values) {
  // Two passes: size the result, then copy every piece once into the reserved buffer.
  std::string result;
  result.reserve(filledSize(segments, [&](std::string_view name) {
    auto value = values.find(name);
    return value == values.end() ? 0 : value->second.size();
  }));
  fillInto(result, segments, [&](std::string& out, std::string_view name) {
    if (auto value = values.find(name); value != values.end())
      out.append(value->second);
  });
  return result;
}

} // namespace

std::vector<Segment> parse(std::string_view text) {
  std::vector<Segment> segments;
  std::size_t cursor = 0;
  while (cursor < text.size()) {
    const std::size_t open = text.find(kDelimiter, cursor);
    if (open == std::string_view::npos) {
      segments.push_back(Segment::literal(std::string(text.substr(cursor))));
      break;
    }
    if (open > cursor)
      segments.push_back(Segment::literal(std::string(text.substr(cursor, open - cursor))));
    const std::size_t nameStart = open + kDelimiter.size();
    const std::size_t close = text.find(kDelimiter, nameStart);
    if (close == std::string_view::npos) {
      // An unterminated name stays literal text, delimiter included.
      segments.push_back(Segment::literal(std::string(text.substr(open))));
      break;
    }
    segments.push_back(Segment::token(std::string(text.substr(nameStart, close - nameStart))));
    cursor = close + kDelimiter.size();
  }
  return segments;
}

std::string render(const std::vector<Segment>& segments, const Values& values) {
  return fill(segments, values);
}

std::string renderViews(const std::vector<Segment>& segments, const ValueViews& values) {
  return fill(segments, values);
}

} // namespace TokenizedTemplate
