#include "SoftwareUpdate/SUStandardVersionComparator.h"

#include <gtest/gtest.h>

namespace {

int sign(int v) {
  return (v > 0) - (v < 0);
}

void expectOlder(const char* a, const char* b) {
  EXPECT_EQ(sign(SUStandardVersionComparator::compareVersions(a, b)), -1) << a << " < " << b;
  EXPECT_EQ(sign(SUStandardVersionComparator::compareVersions(b, a)), 1) << b << " > " << a;
}

void expectSame(const char* a, const char* b) {
  EXPECT_EQ(SUStandardVersionComparator::compareVersions(a, b), 0) << a << " == " << b;
  EXPECT_EQ(SUStandardVersionComparator::compareVersions(b, a), 0) << b << " == " << a;
}

TEST(SUStandardVersionComparator, NumbersCompareByValueAndMissingPartsAreZero) {
  expectOlder("1.0", "1.1");
  expectSame("1.0", "1.0");
  expectOlder("2.0", "2.1");
  expectOlder("3.0", "3.0.1");
  expectOlder("1.5.5", "1.5.6");
  expectOlder("1.1.0b1", "1.1.0b2");
  expectOlder("1.9", "1.10");
  expectOlder("2", "10");
  expectSame("1.0", "1.0.0");
  expectSame("1", "1.0.0.0");
  expectSame("1.0a1", "1.0.0a1");
  expectOlder("1", "2");
  expectOlder("99999999999999999999", "99999999999999999999.1");
}

TEST(SUStandardVersionComparator, PrereleasesComeBeforeTheRelease) {
  expectOlder("1.0a1", "1.0b1");
  expectOlder("1.0b1", "1.0");
  expectOlder("0.9", "1.0a1");
  expectOlder("1.0b", "1.0b2");
  expectOlder("1.0b9", "1.0b10");
  expectOlder("1.0a", "1.0b");
  expectOlder("1.0b2", "1.0rc1");
  expectOlder("1.0rc1", "1.0");
}

TEST(SUStandardVersionComparator, BuildNumbersAndSeparators) {
  expectOlder("1.0 (1234)", "1.0 (1256)");
  expectOlder("1.0b1 (1234)", "1.0 (1234)");
  expectOlder("1.0 - beta", "1.0.1");
  expectSame("1.0-beta", "1.0");
  expectOlder("1.0 alpha", "1.0 beta");
  expectSame("1.0 (12)", "1.0 [12]");
}

TEST(SUStandardVersionComparator, EmptyAndOddInputDoNotCrash) {
  expectSame("", "");
  expectOlder("", "1");
  expectOlder("a", "1");
  EXPECT_EQ(SUStandardVersionComparator::compareVersions("...", "..."), 0);
  EXPECT_NE(SUStandardVersionComparator::compareVersions("1..2", "1.2"), 2);
}

} // namespace
