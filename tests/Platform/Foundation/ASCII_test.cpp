#include "Foundation/ASCII.h"
#include "ScopedLocale.h"

#include <gtest/gtest.h>

TEST(ASCIITest, ClassesAndCaseCoverTheASCIILettersAndDigitsOnly) {
  EXPECT_TRUE(ASCII::isAlnum('z') && ASCII::isAlnum('Q') && ASCII::isAlnum('7'));
  EXPECT_FALSE(ASCII::isAlnum('_') || ASCII::isAlnum('\xfd') || ASCII::isAlnum('\xc4'));
  EXPECT_EQ(ASCII::lowercased("GIF.Png-\xC4\xB0I"), "gif.png-\xC4\xB0i"); // "İ" stays as it is
  EXPECT_EQ(ASCII::toUpper('i'), 'I');
  EXPECT_TRUE(ASCII::equalsIgnoringCase("MerMaid", "mermaid"));
  EXPECT_FALSE(ASCII::equalsIgnoringCase("mermaid", "mermai"));
  EXPECT_FALSE(ASCII::equalsIgnoringCase("\xC4\xB1", "I")); // "ı" is not "I"
  EXPECT_TRUE(ASCII::startsWithIgnoringCase("<HEAD>", "<head"));
  EXPECT_FALSE(ASCII::startsWithIgnoringCase("<he", "<head"));
}

TEST(ASCIITest, TheLocaleChangesNothing) {
  ScopedLocale turkish(kTurkishLocale);
  if (!turkish.active())
    GTEST_SKIP() << kTurkishLocale << " is not installed";
  EXPECT_EQ(ASCII::lowercased("ICO"), "ico");
  EXPECT_TRUE(ASCII::equalsIgnoringCase("IPYNB", "ipynb"));
}
