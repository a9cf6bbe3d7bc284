#include "SoftwareUpdate/SUAppcast.h"

#include <gtest/gtest.h>

namespace {

std::string feed(const std::string& items) {
  return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle" xmlns:dc="http://purl.org/dc/elements/1.1/">
<channel><title>Lumivale Quick Look</title>)" +
         items + "</channel></rss>";
}

std::string item(const std::string& version, const std::string& os = "linux",
                 const std::string& extra = "") {
  return "<item><title>Version " + version + "</title><sparkle:version>" + version +
         "</sparkle:version><sparkle:shortVersionString>1." + version +
         "</sparkle:shortVersionString><description><![CDATA[<p>Notes for " + version +
         "</p>]]></description><enclosure url=\"https://example.org/v" + version +
         ".tar.gz\" length=\"1234\" sparkle:os=\"" + os +
         "\" sparkle:edSignature=\"c2ln\" type=\"application/octet-stream\"/>" + extra + "</item>";
}

TEST(SUAppcast, ReadsLinuxItemsAndIgnoresOtherSystems) {
  auto result = SUAppcast::parse(feed(item("3", "macos") + item("2") + item("4", "windows")));
  ASSERT_EQ(result.error, "");
  ASSERT_EQ(result.items.size(), 1u);
  const SUAppcastItem& it = result.items[0];
  EXPECT_EQ(it.versionString, "2");
  EXPECT_EQ(it.displayVersionString, "1.2");
  EXPECT_EQ(it.title, "Version 2");
  EXPECT_EQ(it.itemDescription, "<p>Notes for 2</p>");
  EXPECT_EQ(it.fileURL, "https://example.org/v2.tar.gz");
  EXPECT_EQ(it.contentLength, 1234u);
  EXPECT_EQ(it.edSignature, "c2ln");
  EXPECT_EQ(it.os, "linux");
}

TEST(SUAppcast, ItemWithoutOperatingSystemIsForMacOS) {
  std::string noOS = "<item><sparkle:version>5</sparkle:version><enclosure url=\"https://e/x\" "
                     "length=\"9\" sparkle:edSignature=\"c2ln\"/></item>";
  EXPECT_TRUE(SUAppcast::parse(feed(noOS)).items.empty());
}

TEST(SUAppcast, VersionOnTheEnclosureAndOSAsElementAreRead) {
  std::string old = "<item><sparkle:os>linux</sparkle:os><enclosure url=\"https://e/x\" "
                    "length=\"9\" sparkle:version=\" 7 \" sparkle:shortVersionString=\"1.7\"/>"
                    "</item>";
  auto result = SUAppcast::parse(feed(old));
  ASSERT_EQ(result.items.size(), 1u);
  EXPECT_EQ(result.items[0].versionString, "7");
  EXPECT_EQ(result.items[0].displayVersionString, "1.7");
  EXPECT_EQ(result.items[0].edSignature, "");
}

TEST(SUAppcast, ItemsMissingRequiredFieldsAreSkipped) {
  std::string noVersion = "<item><enclosure url=\"https://e/x\" length=\"9\" "
                          "sparkle:os=\"linux\"/></item>";
  std::string noURL = "<item><sparkle:version>2</sparkle:version><enclosure length=\"9\" "
                      "sparkle:os=\"linux\"/></item>";
  std::string badLength =
      "<item><sparkle:version>2</sparkle:version><enclosure url=\"https://e/x\" "
      "length=\"-9\" sparkle:os=\"linux\"/></item>";
  std::string noLength = "<item><sparkle:version>2</sparkle:version><enclosure url=\"https://e/x\" "
                         "sparkle:os=\"linux\"/></item>";
  std::string noEnclosure = "<item><sparkle:version>2</sparkle:version></item>";
  auto result = SUAppcast::parse(feed(noVersion + noURL + badLength + noLength + noEnclosure));
  EXPECT_EQ(result.error, "");
  EXPECT_TRUE(result.items.empty());
}

TEST(SUAppcast, ElementsOutsideSparklesNamespaceDoNotCount) {
  std::string other = "<item xmlns:x=\"urn:other\"><x:version>9</x:version><enclosure "
                      "url=\"https://e/x\" length=\"9\" sparkle:os=\"linux\"/></item>";
  EXPECT_TRUE(SUAppcast::parse(feed(other)).items.empty());
}

TEST(SUAppcast, MalformedFeedsGiveAnErrorAndNoItems) {
  for (std::string bad :
       {std::string(""), std::string("not xml"), feed(item("2")).substr(0, 300),
        std::string("<html><body/></html>"), std::string("<rss version=\"2.0\"></rss>")}) {
    auto result = SUAppcast::parse(bad);
    EXPECT_NE(result.error, "") << bad;
    EXPECT_TRUE(result.items.empty()) << bad;
  }
}

TEST(SUAppcast, EntityExpansionIsRefused) {
  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaa\">"
                     "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
                     "<rss><channel><title>&b;</title></channel></rss>";
  auto result = SUAppcast::parse(bomb);
  EXPECT_NE(result.error, "");
}

TEST(SUAppcast, HugeAndDeepFeedsAreRefused) {
  std::string huge = feed(std::string(SUAppcast::kMaximumFeedSize, ' '));
  EXPECT_NE(SUAppcast::parse(huge).error, "");
  std::string deep = "<rss><channel>";
  for (int i = 0; i < 100; ++i)
    deep += "<a>";
  EXPECT_NE(SUAppcast::parse(deep).error, "");
}

TEST(SUAppcast, BestUpdateIsTheNewestNewerItem) {
  auto items = SUAppcast::parse(feed(item("1.0b9") + item("1.0b10") + item("0.9"))).items;
  ASSERT_EQ(items.size(), 3u);
  auto best = SUAppcast::bestUpdate(items, "1.0a1");
  ASSERT_TRUE(best);
  EXPECT_EQ(best->versionString, "1.0b10");
  EXPECT_FALSE(SUAppcast::bestUpdate(items, "1.0"));
  EXPECT_FALSE(SUAppcast::bestUpdate(items, "1.0b10"));
  EXPECT_FALSE(SUAppcast::bestUpdate({}, "1"));
}

} // namespace
