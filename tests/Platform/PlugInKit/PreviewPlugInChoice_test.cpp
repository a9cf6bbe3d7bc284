#include "PlugInKit/PreviewPlugInChoice.h"
#include "PlugInKit/QuickLookServiceReset.h"
#include "RegistryFixture.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

RegistryState stateWith(std::vector<PlugIn> plugIns,
                        std::map<std::string, Election, std::less<>> elections = {}) {
  RegistryState state;
  state.plugIns = std::move(plugIns);
  state.elections = std::move(elections);
  return state;
}

TEST(PreviewPlugInChoiceTest, AnExactTypeBeatsAConformingOneAndIgnoredPlugInsAreSkipped) {
  const PlugIn text = RegistryFixture::plugIn("com.example.text", "1", {"public.plain-text"});
  const PlugIn markdown = RegistryFixture::plugIn("com.example.md", "1");
  const PlugIn share = RegistryFixture::plugIn("com.example.share", "1",
                                               {"net.daringfireball.markdown"}, "com.apple.share");

  PreviewPlugInChoice choice =
      choosePreviewPlugIn(stateWith({share, text, markdown}), UTType::markdown);
  ASSERT_TRUE(choice.plugIn);
  EXPECT_EQ(choice.plugIn->identifier, "com.example.md");

  choice = choosePreviewPlugIn(
      stateWith({share, text, markdown}, {{"com.example.md", Election::ignore}}), UTType::markdown);
  ASSERT_TRUE(choice.plugIn);
  EXPECT_EQ(choice.plugIn->identifier, "com.example.text"); // conforming: Markdown is text
  EXPECT_EQ(choice.failureReason("net.daringfireball.markdown"), "");
}

TEST(PreviewPlugInChoiceTest, FailuresSayWhyAndHowToChangeIt) {
  const PlugIn notebook = RegistryFixture::plugIn("com.example.nb", "1", {"org.jupyter.ipynb"});
  PreviewPlugInChoice choice = choosePreviewPlugIn(
      stateWith({notebook}, {{"com.example.nb", Election::ignore}}), UTType::notebook);
  EXPECT_FALSE(choice.plugIn);
  EXPECT_EQ(choice.failureReason("org.jupyter.ipynb"),
            "The preview extension com.example.nb for content type org.jupyter.ipynb is switched "
            "off; switch it on with: pluginkit -e use -i com.example.nb");

  choice = choosePreviewPlugIn(stateWith({notebook}), UTType::markdown);
  EXPECT_FALSE(choice.plugIn);
  EXPECT_TRUE(choice.switchedOff.empty());
  EXPECT_EQ(choice.failureReason("net.daringfireball.markdown"),
            "No registered preview extension handles content type net.daringfireball.markdown "
            "(register the application with: lsregister -f -R -trusted APP).");
}

TEST(QuickLookServiceResetTest, ResetRaisesTheGenerationAndEmptiesOnlyTheCache) {
  RegistryFixture fixture;
  const RegistryLocation location = fixture.location();
  EXPECT_EQ(QuickLookServiceReset::generation(location), 0u);
  EXPECT_EQ(QuickLookServiceReset::requestReset(location), 1u);
  EXPECT_EQ(QuickLookServiceReset::requestReset(location), 2u);
  EXPECT_EQ(QuickLookServiceReset::generation(location), 2u);

  EXPECT_NO_THROW(QuickLookServiceReset::emptyPreviewCache(location)); // no cache yet
  const fs::path cache = location.previewCacheFolder();
  RegistryFixture::write(cache / "a.qlpreview" / "Preview.html", "x");
  RegistryFixture::write(cache / ".hidden", "x");
  const fs::path outside = fixture.root() / "keep" / "precious.txt";
  RegistryFixture::write(outside, "keep");
  fs::create_directory_symlink(outside.parent_path(), cache / "link");
  QuickLookServiceReset::emptyPreviewCache(location);
  EXPECT_TRUE(fs::is_directory(cache));
  EXPECT_TRUE(fs::is_empty(cache));
  EXPECT_EQ(RegistryFixture::read(outside), "keep"); // links are removed, never followed
}

} // namespace
