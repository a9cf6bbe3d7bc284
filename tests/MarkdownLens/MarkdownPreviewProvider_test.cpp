#include "MarkdownLens/MarkdownPreviewProvider.h"
#include "PreviewCore/InlineLocalAssets.h"
#include "PreviewCore/PreviewReplyBuilder.h"
#include "ScopedLocale.h"

#include <gtest/gtest.h>

using MP = MarkdownPreviewProvider;

TEST(MarkdownPreviewProviderTest, MermaidSourceTest) {
  EXPECT_TRUE(MP::isMermaidSource("MERMAID", "just prose, no diagram"));
  EXPECT_TRUE(
      MP::isMermaidSource("mmd", "\n\n  %%{init: {'theme': 'dark'}}%%\n\nsequenceDiagram\n"));
  EXPECT_TRUE(MP::isMermaidSource("mmd", "%%{init:\n{}\n}%% flowchart LR"));
  EXPECT_TRUE(MP::isMermaidSource("MMD", "Pie title Pets"));
  EXPECT_TRUE(MP::isMermaidSource("mmd", "stateDiagram-v2\n"));
  EXPECT_FALSE(MP::isMermaidSource("mmd", "pies are good"));
  EXPECT_FALSE(MP::isMermaidSource("mmd", "# Heading\ngraph TD"));
  EXPECT_FALSE(MP::isMermaidSource("mmd", "---\ntitle: x\n---\ngraph TD"));
  EXPECT_FALSE(MP::isMermaidSource("md", "graph TD"));
  EXPECT_FALSE(MP::isMermaidSource("", "graph TD"));
}

TEST(MarkdownPreviewProviderTest, FenceChoice) {
  EXPECT_EQ(MP::wrapMermaidSource("graph TD"), "```mermaid\ngraph TD\n```");
  EXPECT_EQ(MP::wrapMermaidSource("a\n"), "```mermaid\na\n\n```");
  EXPECT_EQ(MP::wrapMermaidSource("x ``` y"), "~~~mermaid\nx ``` y\n~~~");
  EXPECT_EQ(MP::wrapMermaidSource("```` ~~~~"), "`````mermaid\n```` ~~~~\n`````");
  EXPECT_EQ(MP::wrapMermaidSource("````` ~~~~~"), "``````mermaid\n````` ~~~~~\n``````");
  EXPECT_EQ(MP::wrapMermaidSource("~~~~~~"), "```mermaid\n~~~~~~\n```");
  // Runs count user-perceived characters: a backtick carrying a combining mark ends a run.
  EXPECT_EQ(MP::wrapMermaidSource("````\u0301 ~~~~"), "````mermaid\n````\u0301 ~~~~\n````");
  EXPECT_EQ(MP::wrapMermaidSource("```\u0301"), "~~~mermaid\n```\u0301\n~~~");
}

// The extension tests are ASCII-only: a Turkish locale (where <cctype> leaves "I" as it is)
// changes neither the Mermaid test nor the extension an inlined image is typed by.
TEST(MarkdownPreviewProviderTest, ExtensionsIgnoreTheProcessLocale) {
  ScopedLocale turkish(kTurkishLocale);
  if (!turkish.active())
    GTEST_SKIP() << kTurkishLocale << " is not installed";
  EXPECT_TRUE(MP::isMermaidSource("MERMAID", "just prose"));
  EXPECT_TRUE(MP::isMermaidSource("MmD", "graph TD"));
  auto result = InlineLocalAssets::rewriteMarkdownImages(
      "![a](IMAGE.GIF)", URL::fileURLWithPath("/docs/"),
      [](const URL&) { return std::string("GIF89a"); }, 100, 100);
  ASSERT_EQ(result.attachments.size(), 1u);
  EXPECT_EQ(result.attachments.begin()->second.pathExtension, "gif");
  QLPreviewReplyAttachments attachments = PreviewReplyBuilder::replyAttachments(result.attachments);
  EXPECT_EQ(attachments.begin()->second.contentType(), UTType::gif);
}
