#include "PreviewCore/Graphemes.h"
#include "PreviewCore/ICUText.h"
#include "RandomTexts.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <unicode/brkiter.h>
#include <vector>

namespace {

std::vector<std::string> clustersOf(std::string_view text) {
  std::vector<std::string> clusters;
  Graphemes::forEachGraphemeCluster(text, [&](std::string_view cluster) {
    clusters.emplace_back(cluster);
    return true;
  });
  return clusters;
}

// ICU's own segmentation of the whole text, for comparison.
std::vector<std::string> icuClustersOf(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> iterator(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  ICUText utext(text);
  iterator->setText(utext.get(), status);
  std::vector<std::string> clusters;
  int32_t start = 0;
  for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE; end = iterator->next()) {
    clusters.emplace_back(text.substr(start, end - start));
    start = end;
  }
  return clusters;
}

} // namespace

// What random texts are made of: ASCII (the two single-byte marks ` and $ among it), controls,
// combining marks, joiners, emoji with modifiers and flags, prepended and spacing marks,
// Hangul jamo and line separators.
const std::vector<std::string> kPieces = {
    "a",          "b",          " ",          "`",          "$",          "\r",
    "\n",         "\r\n",       "\t",         "\x7f",       "\u0085",     "\u2028",
    "\u0301",     "\u200d",     "\u0600",     "\u0903",     "\u0915",     "\u094D",
    "\u0d4e",     "\U000110BD", "\u00e9",     "\u4e2d",     "\uffff",     "\U0001F468",
    "\U0001F469", "\U0001F600", "\U0001F3FD", "\U0001F1E6", "\U0001F1E9", "\U0001F1EA",
    "\u1100",     "\u1161",     "\u11A8"};

TEST(GraphemesTest, SegmentsLikeICU) {
  RandomTexts texts(kPieces, 7);
  for (int round = 0; round < 2000; ++round) {
    const std::string text = texts.next(round % 24);
    const std::vector<std::string> expected = icuClustersOf(text);
    ASSERT_EQ(clustersOf(text), expected) << text;
    ASSERT_EQ(Graphemes::graphemeClusterCount(text), expected.size());
    for (std::size_t count = 0; count <= expected.size() + 1; ++count) {
      std::size_t prefix = 0, suffix = 0;
      for (std::size_t i = 0; i < std::min(count, expected.size()); ++i) {
        prefix += expected[i].size();
        suffix += expected[expected.size() - 1 - i].size();
      }
      ASSERT_EQ(Graphemes::graphemeClusterPrefixBytes(text, count), prefix) << text << count;
      ASSERT_EQ(Graphemes::graphemeClusterSuffixBytes(text, count), suffix) << text << count;
    }
  }
}

TEST(GraphemesTest, KnownClusters) {
  EXPECT_EQ(clustersOf("a\r\nb\n\r"), (std::vector<std::string>{"a", "\r\n", "b", "\n", "\r"}));
  EXPECT_EQ(clustersOf("e\u0301`\u0301$"), (std::vector<std::string>{"e\u0301", "`\u0301", "$"}));
  EXPECT_EQ(clustersOf("\U0001F468\u200D\U0001F469!"),
            (std::vector<std::string>{"\U0001F468\u200D\U0001F469", "!"}));
  EXPECT_EQ(clustersOf("\n\u0301"), (std::vector<std::string>{"\n", "\u0301"}));
  EXPECT_EQ(Graphemes::graphemeClusterCount(""), 0u);
  // Stopping the visit early.
  std::size_t visited = 0;
  EXPECT_FALSE(Graphemes::forEachGraphemeCluster("abc\u00e9\u00e9",
                                                 [&](std::string_view) { return ++visited < 4; }));
  EXPECT_EQ(visited, 4u);
}

TEST(GraphemesTest, SingleByteClustersMatchFullSegmentation) {
  RandomTexts texts(kPieces, 3);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = texts.next(round % 20);
    std::vector<std::size_t> expected;
    std::size_t offset = 0;
    for (const std::string& cluster : icuClustersOf(text)) {
      if (cluster == "`" || cluster == "$")
        expected.push_back(offset);
      offset += cluster.size();
    }
    std::vector<std::size_t> visited;
    Graphemes::forEachSingleByteCluster(text, "`$", [&](std::size_t at) {
      visited.push_back(at);
      return true;
    });
    ASSERT_EQ(visited, expected) << text;
  }
}
