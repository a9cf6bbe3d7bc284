#include "PreviewCore/TokenizedTemplate.h"

#include <gtest/gtest.h>

using TokenizedTemplate::parse;
using TokenizedTemplate::render;
using TokenizedTemplate::Segment;
using Segments = std::vector<Segment>;

TEST(TokenizedTemplateTest, ParsesLiteralsAndTokens) {
  EXPECT_EQ(parse(""), Segments{});
  EXPECT_EQ(parse("<p>plain 50% off</p>"), Segments{Segment::literal("<p>plain 50% off</p>")});
  EXPECT_EQ(parse("%%A%%"), Segments{Segment::token("A")});
  EXPECT_EQ(parse("x%%A%%y%%A%%"), (Segments{Segment::literal("x"), Segment::token("A"),
                                             Segment::literal("y"), Segment::token("A")}));
  EXPECT_EQ(parse("%%A%%%%B%%"), (Segments{Segment::token("A"), Segment::token("B")}));
}

TEST(TokenizedTemplateTest, OddDelimitersFollowTheSearchRules) {
  EXPECT_EQ(parse("a %%B"), (Segments{Segment::literal("a "), Segment::literal("%%B")}));
  EXPECT_EQ(parse("%%%A%%"), Segments{Segment::token("%A")});
  EXPECT_EQ(parse("%%%%"), Segments{Segment::token("")});
  EXPECT_EQ(parse("%% A %%"), Segments{Segment::token(" A ")});
  EXPECT_EQ(parse("%%A\nB%%tail"), (Segments{Segment::token("A\nB"), Segment::literal("tail")}));
}

TEST(TokenizedTemplateTest, RendersValuesVerbatim) {
  EXPECT_EQ(render(parse(""), {{"A", "1"}}), "");
  EXPECT_EQ(render(parse("%%A%%"), {{"A", "1"}}), "1");
  EXPECT_EQ(render(parse("%%A%%"), {}), "");
  EXPECT_EQ(render(parse("x%%A%%y%%A%%"), {{"A", "1"}, {"unused", "z"}}), "x1y1");
  EXPECT_EQ(render(parse("a %%B"), {{"B", "no"}}), "a %%B");
  EXPECT_EQ(render(parse("%% A %%"), {{"A", "no"}}), "");
  EXPECT_EQ(render(parse("%%%%"), {{"", "empty name"}}), "empty name");
  // A value is not scanned again for tokens.
  EXPECT_EQ(render(parse("[%%A%%]"), {{"A", "%%B%%"}, {"B", "no"}}), "[%%B%%]");
}

TEST(TokenizedTemplateTest, RendersViewsLikeValues) {
  const std::string big(100000, 'x');
  auto segments = parse("<%%A%%|%%B%%|%%A%%>");
  EXPECT_EQ(TokenizedTemplate::renderViews(segments, {{"A", big}, {"B", "b"}}),
            "<" + big + "|b|" + big + ">");
  EXPECT_EQ(TokenizedTemplate::renderViews(segments, {}), "<||>");
}

// The streaming fill: a token's value is appended by the caller, straight into the page, and
// the page's size is known before it is written.
TEST(TokenizedTemplateTest, FillsIntoACallerBufferThroughAnAppender) {
  const Segments segments = parse("<%%DATA%%|%%NAME%%|%%MISSING%%>");
  std::vector<std::string> asked;
  auto size = TokenizedTemplate::filledSize(segments, [&](std::string_view name) {
    asked.emplace_back(name);
    return name == "DATA" ? std::size_t{5} : std::size_t{0};
  });
  EXPECT_EQ(size, 4u + 5u); // "<", "|", "|", ">" and DATA
  EXPECT_EQ(asked, (std::vector<std::string>{"DATA", "NAME", "MISSING"}));
  std::string page = "head:";
  TokenizedTemplate::fillInto(page, segments, [](std::string& out, std::string_view name) {
    if (name == "DATA")
      out += "12345";
    else if (name == "NAME")
      out += "n";
  });
  EXPECT_EQ(page, "head:<12345|n|>");
}
