#include "Foundation/PropertyList.h"

#include <gtest/gtest.h>

namespace {

std::string bytes(std::initializer_list<unsigned char> list) {
  return std::string(list.begin(), list.end());
}

} // namespace

TEST(PropertyListTest, ReadsXMLWithNestedValues) {
  const std::optional<PropertyList> list = PropertyList::parse(
      R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>com.example.lens</string>
  <key>NSExtension</key><dict><key>Types</key><array><string>a</string><true/><string>b</string></array></dict>
</dict></plist>)");
  ASSERT_TRUE(list);
  ASSERT_NE(list->member("CFBundleIdentifier"), nullptr);
  EXPECT_EQ(*list->member("CFBundleIdentifier")->asString(), "com.example.lens");
  const PropertyList* types = list->valueAtPath({"NSExtension", "Types"});
  ASSERT_NE(types, nullptr);
  EXPECT_EQ(types->stringArray(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(list->valueAtPath({"NSExtension", "Missing"}), nullptr);
}

TEST(PropertyListTest, ReadsBinaryLists) {
  // {"a": "x"} as written by Python's plistlib.
  const std::optional<PropertyList> list = PropertyList::parse(bytes(
      {'b',  'p', 'l', 'i', 's', 't', '0', '0', 0xd1, 0x01, 0x02, 0x51, 'a', 0x51, 'x', 0x08, 0x0b,
       0x0d, 0,   0,   0,   0,   0,   0,   1,   1,    0,    0,    0,    0,   0,    0,   0,    3,
       0,    0,   0,   0,   0,   0,   0,   0,   0,    0,    0,    0,    0,   0,    0,   0x0f}));
  ASSERT_TRUE(list);
  ASSERT_NE(list->member("a"), nullptr);
  EXPECT_EQ(*list->member("a")->asString(), "x");
}

TEST(PropertyListTest, RefusesWhatIsNoPropertyList) {
  EXPECT_FALSE(PropertyList::parse(""));
  EXPECT_FALSE(PropertyList::parse("not a property list"));
  EXPECT_FALSE(PropertyList::parse("bplist00"));
  EXPECT_FALSE(PropertyList::parse("<plist><dict><key>a</key>"));
}

// A binary list whose dictionary key is UTF-16 with a U+0000 in it made libplist abort the
// process on an internal assertion while the key was read; such a list is refused instead.
TEST(PropertyListTest, RefusesUTF16KeysWithNUL) {
  // {"é\0": "x"}
  EXPECT_FALSE(PropertyList::parse(
      bytes({'b',  'p',  'l',  'i', 's',  't',  '0',  '0', 0xd1, 0x01, 0x02, 0x62, 0x00, 0xe9,
             0x00, 0x00, 0x51, 'x', 0x08, 0x0b, 0x10, 0,   0,    0,    0,    0,    0,    1,
             1,    0,    0,    0,   0,    0,    0,    0,   3,    0,    0,    0,    0,    0,
             0,    0,    0,    0,   0,    0,    0,    0,   0,    0,    0x12})));
  // {"a": {"bé\0c": 1}}: the key in a nested dictionary, its length written as an integer.
  EXPECT_FALSE(PropertyList::parse(
      bytes({'b',  'p',  'l',  'i',  's',  't',  '0',  '0',  0xd1, 0x01, 0x02, 0x51, 'a',
             0xd1, 0x03, 0x04, 0x64, 0x00, 0x62, 0x00, 0xe9, 0x00, 0x00, 0x00, 0x63, 0x10,
             0x01, 0x08, 0x0b, 0x0d, 0x10, 0x19, 0,    0,    0,    0,    0,    0,    1,
             1,    0,    0,    0,    0,    0,    0,    0,    5,    0,    0,    0,    0,
             0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0x1b})));
}
