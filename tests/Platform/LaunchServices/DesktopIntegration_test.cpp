#include "LaunchServices/DesktopIntegration.h"
#include "RegistryFixture.h"

#include <gtest/gtest.h>

namespace {

TEST(DesktopIntegrationTest, DesktopFileIDsKeepOnlySafeCharacters) {
  EXPECT_EQ(DesktopIntegration::desktopFileID("com.lumivale.quicklook"), "com.lumivale.quicklook");
  EXPECT_EQ(DesktopIntegration::desktopFileID("com.example/odd id;\xc3\xa9"),
            "com.example_odd_id___");
}

TEST(DesktopIntegrationTest, TypesTheSystemKnowsByAnyNameGetNoPackage) {
  RegistryFixture fixture;
  RegistryFixture::write(fixture.root() / "a" / "mime" / "types", "text/markdown\n");
  RegistryFixture::write(fixture.root() / "b" / "mime" / "aliases",
                         "application/x-mermaid text/vnd.mermaid\n");
  const std::set<std::string> known =
      DesktopIntegration::systemMIMETypes({fixture.root() / "a", fixture.root() / "b"});
  EXPECT_EQ(known,
            (std::set<std::string>{"application/x-mermaid", "text/markdown", "text/vnd.mermaid"}));

  const std::vector<TypeDeclaration> declarations = {
      {"net.daringfireball.markdown", "Markdown", {}, {"md"}, {"text/markdown"}},
      {"com.lumivale.mermaid",
       "Mermaid",
       {},
       {"mmd"},
       {"application/vnd.mermaid", "application/x-mermaid"}},
      {"com.example.no-extension", "", {}, {}, {"text/x-none"}}};
  EXPECT_EQ(DesktopIntegration::mimePackageText(declarations, known), "");
  EXPECT_NE(DesktopIntegration::mimePackageText(declarations, {}).find("text/markdown"),
            std::string::npos);
  EXPECT_EQ(DesktopIntegration::mimePackageText(declarations, {}).find("text/x-none"),
            std::string::npos); // nothing to recognise it by
}

TEST(DesktopIntegrationTest, MIMETypesComeFromDeclarationsThenTheTypeTable) {
  const std::vector<TypeDeclaration> declarations = {
      {"com.example.thing", "", {}, {"thing"}, {"application/x-thing"}}};
  EXPECT_EQ(DesktopIntegration::mimeTypeFor("com.example.thing", declarations),
            "application/x-thing");
  EXPECT_EQ(DesktopIntegration::mimeTypeFor("org.jupyter.ipynb", declarations),
            "application/x-ipynb+json");
  EXPECT_EQ(DesktopIntegration::mimeTypeFor("com.example.unknown", declarations), "");
  EXPECT_THROW(DesktopIntegration::desktopEntryText("X", "/opt/\xff/qlmanage", {}),
               std::invalid_argument);
}

} // namespace
