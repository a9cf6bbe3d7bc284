#include "Foundation/NSError.h"
#include "MarkdownLens/MarkdownPreviewProvider.h"
#include "PreviewCore/InlineLocalAssets.h"
#include "PreviewCore/PreviewReplyBuilder.h"
#include "ScopedLocale.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

namespace fs = std::filesystem;

class MarkdownDocumentReadTest : public testing::Test {
protected:
  MarkdownDocumentReadTest() {
    std::string pattern = (fs::temp_directory_path() / "lumivale-mdread-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
  }
  ~MarkdownDocumentReadTest() override { fs::remove_all(dir_); }
  URL write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return URL::fileURLWithPath((dir_ / name).string());
  }
  static NSError errorOf(const std::function<void()>& read) {
    try {
      read();
    } catch (const NSErrorException& e) {
      return e.error();
    }
    ADD_FAILURE() << "the read did not fail";
    return {};
  }
  fs::path dir_;
};

TEST_F(MarkdownDocumentReadTest, ADocumentWithinTheCapIsReadWhole) {
  MP::Document document = MP::readDocument(write("a.md", "# Title\n\ntext"), 14);
  EXPECT_EQ(document.text, "# Title\n\ntext");
  EXPECT_FALSE(document.cutNotice);
}

TEST_F(MarkdownDocumentReadTest, ALargerDocumentIsCutAtALineBreakWithANotice) {
  MP::Document document = MP::readDocument(write("a.md", "line one\nline two\nline three\n"), 20);
  EXPECT_EQ(document.text, "line one\nline two\n");
  EXPECT_EQ(document.cutNotice, "[Lumivale Quick Look shows only the first 18 bytes of this 29 "
                                "bytes document. Open the file to read all of it.]");
  // Without a line break in the second half, at the last whole character: "é" is not split.
  EXPECT_EQ(MP::readDocument(write("long.md", "a\nbcdefghij"), 6).text, "a\nbcde");
  EXPECT_EQ(MP::readDocument(write("b.md", "ab\xC3\xA9z"), 3).text, "ab");
  EXPECT_EQ(MP::readDocument(write("c.md", "ab\xC3\xA9z"), 4).text, "ab\xC3\xA9");
  // What is kept must still be UTF-8.
  EXPECT_EQ(errorOf([&] { MP::readDocument(write("d.md", "\xFF\nline\nline\n"), 8); }).code,
            NSCocoaErrorCode::kFileReadInapplicableStringEncoding);
}

// A 10 GB document is shown as its first 16 MB; memory stays near that.
TEST_F(MarkdownDocumentReadTest, A10GBDocumentIsReadOnlyUpToTheCap) {
  const fs::path huge = dir_ / "huge.md";
  std::ofstream(huge) << "# Huge\n";
  fs::resize_file(huge, std::uint64_t(10) << 30);
  MP::Document document = MP::readDocument(URL::fileURLWithPath(huge.string()));
  // Sparse bytes are NULs: the only line break is the heading's, too early to cut at.
  EXPECT_EQ(document.text.size(), MP::kMaxDocumentBytes);
  EXPECT_EQ(document.cutNotice, "[Lumivale Quick Look shows only the first 16 MB of this 10 GB "
                                "document. Open the file to read all of it.]");
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  EXPECT_LT(usage.ru_maxrss, 512 * 1024) << "peak memory in KB";
}

TEST_F(MarkdownDocumentReadTest, AFIFOFailsAtOnce) {
  const fs::path fifo = dir_ / "pipe.md";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  NSError error = errorOf([&] { MP::readDocument(URL::fileURLWithPath(fifo.string())); });
  EXPECT_EQ(
      error.localizedDescription,
      "The file \u201Cpipe.md\u201D couldn\u2019t be opened because it is not a regular file.");
}

} // namespace
