#include "Foundation/PropertyList.h"
#include "ScopedLocale.h"
#include "UniformTypeIdentifiers/UTType.h"

#include <gtest/gtest.h>

TEST(UTTypeTest, ImageExtensionsMapToTypesWithMIMETypes) {
  struct Case {
    const char* extension;
    const char* identifier;
    const char* mime;
  };
  for (const Case& c :
       {Case{"png", "public.png", "image/png"}, Case{"JPG", "public.jpeg", "image/jpeg"},
        Case{"jpeg", "public.jpeg", "image/jpeg"}, Case{"gif", "com.compuserve.gif", "image/gif"},
        Case{"svg", "public.svg-image", "image/svg+xml"},
        Case{"webp", "org.webmproject.webp", "image/webp"},
        Case{"ico", "com.microsoft.ico", "image/vnd.microsoft.icon"}}) {
    auto type = UTType::fromFilenameExtension(c.extension, UTType::data);
    ASSERT_TRUE(type) << c.extension;
    EXPECT_EQ(type->identifier(), c.identifier);
    EXPECT_EQ(type->preferredMIMEType(), c.mime);
    EXPECT_TRUE(type->conforms(UTType::image));
    EXPECT_TRUE(type->conforms(UTType::data));
  }
}

TEST(UTTypeTest, UnknownOrEmptyExtensionsHaveNoType) {
  EXPECT_FALSE(UTType::fromFilenameExtension("", UTType::data));
  EXPECT_FALSE(UTType::fromFilenameExtension("nosuchext", UTType::data));
  // Conformance filters: a PNG is not text.
  EXPECT_FALSE(UTType::fromFilenameExtension("png", UTType::text));
}

TEST(UTTypeTest, DocumentTypesConformAlongTheirHierarchy) {
  auto md = UTType::fromFilenameExtension("markdown");
  ASSERT_TRUE(md);
  EXPECT_EQ(*md, UTType::markdown);
  EXPECT_TRUE(md->conforms(UTType::plainText));
  EXPECT_TRUE(md->conforms(UTType::text));
  EXPECT_FALSE(md->conforms(UTType::image));
  EXPECT_EQ(UTType::fromFilenameExtension("mmd"), UTType::mermaid);
  EXPECT_TRUE(UTType::notebook.conforms(UTType::json));
  EXPECT_TRUE(UTType::html.conforms(UTType::item));
}

TEST(UTTypeTest, RegistersDeclarationsFromAnInfoDictionary) {
  auto plist = PropertyList::parse(R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>UTImportedTypeDeclarations</key><array><dict>
<key>UTTypeIdentifier</key><string>com.example.widget</string>
<key>UTTypeConformsTo</key><array><string>public.json</string></array>
<key>UTTypeTagSpecification</key><dict>
<key>public.filename-extension</key><array><string>Widget</string></array>
<key>public.mime-type</key><string>application/x-widget</string></dict>
</dict></array></dict></plist>)");
  ASSERT_TRUE(plist);
  UTType::registerTypeDeclarations(*plist);
  auto type = UTType::fromFilenameExtension("widget");
  ASSERT_TRUE(type);
  EXPECT_EQ(type->identifier(), "com.example.widget");
  EXPECT_TRUE(type->conforms(UTType::text));
  EXPECT_EQ(UTType::fromMIMEType("application/x-widget"), type);
}

// Under a Turkish locale <cctype> leaves "I" as it is, so a locale-bound lookup misses "GIF".
TEST(UTTypeTest, LookupsIgnoreTheProcessLocale) {
  ScopedLocale turkish(kTurkishLocale);
  if (!turkish.active())
    GTEST_SKIP() << kTurkishLocale << " is not installed";
  EXPECT_EQ(UTType::fromFilenameExtension("GIF"), UTType::gif);
  EXPECT_EQ(UTType::fromFilenameExtension("ICO"), UTType::ico);
  EXPECT_EQ(UTType::fromFilenameExtension("IPYNB"), UTType::notebook);
  EXPECT_EQ(UTType::fromFilenameExtension("MERMAID"), UTType::mermaid);
  EXPECT_EQ(UTType::fromMIMEType("IMAGE/GIF"), UTType::gif);
  EXPECT_EQ(UTType::fromMIMEType("Application/X-IPYNB+JSON"), UTType::notebook);
}
