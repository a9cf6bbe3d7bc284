#include "NotebookLens/GraphemeCut.h"

#include <gtest/gtest.h>
#include <string>

using GraphemeCut::boundaryAtOrAfter;
using GraphemeCut::boundaryAtOrBefore;

TEST(GraphemeCut, OffsetsInsideACodePointFindTheNearestClusterBoundary) {
  const std::string twoByte = "\xC3\xA9\xC3\xA9"; // two precomposed e-acute characters
  EXPECT_EQ(boundaryAtOrBefore(twoByte, 1), 0u);
  EXPECT_EQ(boundaryAtOrBefore(twoByte, 2), 2u);
  EXPECT_EQ(boundaryAtOrBefore(twoByte, 3), 2u);
  EXPECT_EQ(boundaryAtOrAfter(twoByte, 1), 2u);
  EXPECT_EQ(boundaryAtOrAfter(twoByte, 3), 4u);

  const std::string wide = "a\xE6\x97\xA5\xE6\x97\xA5"; // a, then two three-byte characters
  EXPECT_EQ(boundaryAtOrBefore(wide, 2), 1u);
  EXPECT_EQ(boundaryAtOrBefore(wide, 6), 4u);
  EXPECT_EQ(boundaryAtOrAfter(wide, 5), 7u);
}

TEST(GraphemeCut, CombiningMarksStayWithTheirLetter) {
  const std::string text = "e\xCC\x81x"; // e + combining acute accent, then x
  EXPECT_EQ(boundaryAtOrBefore(text, 1), 0u);
  EXPECT_EQ(boundaryAtOrBefore(text, 2), 0u);
  EXPECT_EQ(boundaryAtOrBefore(text, 3), 3u);
  EXPECT_EQ(boundaryAtOrAfter(text, 1), 3u);
  EXPECT_EQ(boundaryAtOrAfter(text, 0), 0u);
  EXPECT_EQ(boundaryAtOrAfter(text, 4), 4u);
  EXPECT_EQ(boundaryAtOrBefore(text, 0), 0u);
  EXPECT_EQ(boundaryAtOrBefore("", 0), 0u);
}
