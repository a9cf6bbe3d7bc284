// Fuzzes TokenizedTemplate: the segments of any text join back to the text, and a fill gives
// what a plain concatenation gives, through both the owning and the viewing dictionary.
#include "FuzzSupport.h"
#include "PreviewCore/TokenizedTemplate.h"

#include <set>

using FuzzSupport::require;
using TokenizedTemplate::Segment;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = FuzzSupport::bytes(data, size);
  const std::vector<Segment> segments = TokenizedTemplate::parse(text);

  std::string joined;
  TokenizedTemplate::Values values;
  TokenizedTemplate::ValueViews views;
  std::string expected;
  std::set<std::string> seen;
  std::size_t tokenIndex = 0;
  for (const Segment& segment : segments) {
    if (segment.kind == Segment::Kind::literal) {
      require(!segment.text.empty(), "a literal segment is never empty");
      joined += segment.text;
      expected += segment.text;
      continue;
    }
    require(segment.text.find("%%") == std::string::npos, "a token name holds no delimiter");
    joined += "%%" + segment.text + "%%";
    // Every other distinct name gets a value; the rest stay missing and give nothing.
    if (seen.insert(segment.text).second && tokenIndex++ % 2 == 0)
      values[segment.text] = "<" + segment.text + "|%%>";
    if (auto value = values.find(segment.text); value != values.end())
      expected += value->second;
  }
  require(joined == text, "segments join back to the template");
  for (const auto& [name, value] : values)
    views[name] = value;

  const std::string rendered = TokenizedTemplate::render(segments, values);
  require(rendered == expected, "render equals the plain concatenation");
  require(TokenizedTemplate::renderViews(segments, views) == rendered, "renderViews equals render");
  // A template without values renders its literal text only; parsing is deterministic.
  require(TokenizedTemplate::parse(text) == segments, "parsing is deterministic");
  return 0;
}
