#include "PreviewCore/ICUText.h"
#include "PreviewCore/ImageReferenceScanner.h"
#include "PreviewCore/InlineLocalAssets.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

using namespace InlineLocalAssets;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kMiB = 1 << 20;
constexpr std::int64_t kPerImage = 4 * kMiB;
constexpr std::int64_t kTotal = 8 * kMiB;
const URL kBase = URL::fileURLWithPath("/docs/");

// A reader over an in-memory file system (path -> size in bytes) that counts its reads.
struct FakeFiles {
  FakeFiles() = default;
  explicit FakeFiles(std::map<std::string, std::int64_t> sizes) : sizes(std::move(sizes)) {}
  std::map<std::string, std::int64_t> sizes;
  std::map<std::string, int> reads;
  Reader reader() {
    return [this](const URL& url) {
      ++reads[url.path()];
      auto it = sizes.find(url.path());
      if (it == sizes.end())
        throw std::runtime_error("no such file");
      return std::string(static_cast<std::size_t>(it->second), 'x');
    };
  }
};

MarkdownResult rewrite(std::string_view markdown, FakeFiles& files,
                       std::int64_t perImage = kPerImage, std::int64_t total = kTotal) {
  return rewriteMarkdownImages(markdown, kBase, files.reader(), perImage, total);
}

// The leftmost non-overlapping matches of ICU's own find(), as (start, end) byte pairs.
std::vector<std::pair<std::size_t, std::size_t>> plainSearch(const std::string& text) {
  ICUText utext(text);
  std::unique_ptr<icu::RegexMatcher> matcher = makeICUMatcher(imagePattern(), utext);
  UErrorCode status = U_ZERO_ERROR;
  std::vector<std::pair<std::size_t, std::size_t>> out;
  while (matcher->find(status))
    out.emplace_back(matcher->start64(status), matcher->end64(status));
  return out;
}

std::vector<std::pair<std::size_t, std::size_t>> scanned(const std::string& text) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  forEachImageReference(text, [&](const ImageReference& r) { out.emplace_back(r.start, r.end); });
  return out;
}

} // namespace

TEST(InlineLocalAssetsTest, TextWithoutReferencesIsUnchanged) {
  FakeFiles files;
  auto result = rewrite("# Title\n\nplain [link](a.png) and ! [x](y.png)", files);
  EXPECT_EQ(result.markdown, "# Title\n\nplain [link](a.png) and ! [x](y.png)");
  EXPECT_TRUE(result.attachments.empty());
  EXPECT_TRUE(files.reads.empty());
}

TEST(InlineLocalAssetsTest, CapsAreInclusiveAtTheLimits) {
  FakeFiles files({{"/docs/exact.png", kPerImage},
                   {"/docs/over.png", kPerImage + 1},
                   {"/docs/fill.png", kPerImage},
                   {"/docs/empty.gif", 0}});
  auto result = rewrite("![a](over.png) ![b](exact.png) ![c](fill.png) ![d](empty.gif)", files);
  EXPECT_EQ(result.markdown, "![a](over.png) ![b](cid:lumivale-asset-0) "
                             "![c](cid:lumivale-asset-1) ![d](cid:lumivale-asset-2)");
  EXPECT_EQ(result.attachments.at("lumivale-asset-2"), (Attachment{"", "gif"}));

  // A negative cap rejects even an empty file.
  auto none = rewrite("![d](empty.gif)", files, -1, kTotal);
  EXPECT_EQ(none.markdown, "![d](empty.gif)");
  EXPECT_EQ(rewrite("![d](empty.gif)", files, kPerImage, -1).attachments.size(), 0u);
}

TEST(InlineLocalAssetsTest, OversizedImagesLeaveRoomForLaterOnes) {
  FakeFiles files({{"/docs/5.png", 5 * kMiB}, {"/docs/3.png", 3 * kMiB}, {"/docs/1.png", kMiB}});
  auto result = rewrite("![](5.png)![](3.png)![](1.png)", files);
  EXPECT_EQ(result.markdown, "![](5.png)![](cid:lumivale-asset-0)![](cid:lumivale-asset-1)");

  FakeFiles threes({{"/docs/a.png", 3 * kMiB},
                    {"/docs/b.png", 3 * kMiB},
                    {"/docs/c.png", 3 * kMiB},
                    {"/docs/d.png", 2 * kMiB}});
  auto four = rewrite("![](a.png)![](b.png)![](c.png)![](d.png)", threes);
  EXPECT_EQ(four.markdown, "![](cid:lumivale-asset-0)![](cid:lumivale-asset-1)![](c.png)"
                           "![](cid:lumivale-asset-2)");
  EXPECT_EQ(four.attachments.size(), 3u);
}

TEST(InlineLocalAssetsTest, RepeatedDestinationsShareOneAttachmentAndCountOnce) {
  FakeFiles files({{"/docs/a.png", 5 * kMiB / 2}, {"/docs/b.png", 5 * kMiB}});
  auto result = rewrite("![one](a.png) ![two](a.png \"T\") ![](./a.png) ![](b.png) ![](b.png)",
                        files, 4 * kMiB, 5 * kMiB);
  // ./a.png is a different destination: a second attachment, and it still fits the total
  // (2.5 + 2.5 = 5 MiB) because the repeat of a.png did not count again.
  EXPECT_EQ(result.markdown, "![one](cid:lumivale-asset-0) ![two](cid:lumivale-asset-0 \"T\") "
                             "![](cid:lumivale-asset-1) ![](b.png) ![](b.png)");
  EXPECT_EQ(files.reads["/docs/a.png"], 2);
  EXPECT_EQ(files.reads["/docs/b.png"], 2); // failures are tried again
}

TEST(InlineLocalAssetsTest, TitlesKeepTheirWhiteSpaceAndOtherFormsDoNotMatch) {
  FakeFiles files({{"/docs/a.png", 3}});
  EXPECT_EQ(rewrite("![x](a.png \t\"A title\")", files).markdown,
            "![x](cid:lumivale-asset-0 \t\"A title\")");
  EXPECT_EQ(rewrite("![alt\nmore](a.png)", files).markdown, "![alt\nmore](cid:lumivale-asset-0)");
  for (const char* unchanged :
       {"![x](a.png 'single')", "![x](a.png (paren))", "![x][ref]", "![x](<a.png>)",
        "![x](a b.png)", "![a]b](a.png)", "![x]()", "![x](#frag)", "![x](/abs/a.png)",
        "![x](https://example.com/a.png)", "![x](data:image/png;base64,AAAA)",
        "![x](cid:lumivale-asset-9)", "![x](file:///docs/a.png)"}) {
    FakeFiles none({{"/docs/a.png", 3}});
    EXPECT_EQ(rewrite(unchanged, none).markdown, unchanged);
    EXPECT_TRUE(none.reads.empty() || none.reads.count("/docs/a.png") == 0) << unchanged;
  }
}

TEST(InlineLocalAssetsTest, ResolvesPercentEscapesAndDotDot) {
  EXPECT_EQ(resolveLocalImageURL("my%20pic.png", kBase)->path(), "/docs/my pic.png");
  EXPECT_EQ(resolveLocalImageURL("caf%C3%A9.png", kBase)->path(), "/docs/caf\u00e9.png");
  // Malformed escapes and escapes that are not UTF-8 leave the destination as written.
  EXPECT_EQ(resolveLocalImageURL("100%.png", kBase)->path(), "/docs/100%.png");
  EXPECT_EQ(resolveLocalImageURL("a%zz.png", kBase)->path(), "/docs/a%zz.png");
  EXPECT_EQ(resolveLocalImageURL("bad%FF.png", kBase)->path(), "/docs/bad%FF.png");
  EXPECT_EQ(resolveLocalImageURL("a%2", kBase)->path(), "/docs/a%2");
  EXPECT_EQ(resolveLocalImageURL("./img/../pictures/a.png", kBase)->path(), "/docs/pictures/a.png");
  EXPECT_EQ(resolveLocalImageURL("../sibling/a.png", kBase)->path(), "/sibling/a.png");
  EXPECT_EQ(resolveLocalImageURL("../../../../dev/zero", kBase)->path(), "/dev/zero");

  FakeFiles files({{"/docs/my pic.png", 4}, {"/docs/IMG/Photo.JPG", 2}});
  auto result = rewrite("![](my%20pic.png) ![](IMG/Photo.JPG)", files);
  EXPECT_EQ(result.markdown, "![](cid:lumivale-asset-0) ![](cid:lumivale-asset-1)");
  EXPECT_EQ(result.attachments.at("lumivale-asset-0").pathExtension, "png");
  EXPECT_EQ(result.attachments.at("lumivale-asset-1").pathExtension, "jpg");
}

TEST(InlineLocalAssetsTest, ExtensionsAreLowerCasedWhateverTheProcessLocale) {
  // Under a Turkish default locale a locale-sensitive lower case turns "I" into a dotless i.
  const icu::Locale previous = icu::Locale::getDefault();
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(icu::Locale("tr", "TR"), status);
  ASSERT_TRUE(U_SUCCESS(status));
  FakeFiles files({{"/docs/LOGO.GIF", 3}, {"/docs/photo.TIFF", 1}});
  auto result = rewrite("![](LOGO.GIF) ![](photo.TIFF)", files);
  icu::Locale::setDefault(previous, status);
  ASSERT_EQ(result.attachments.size(), 2u);
  EXPECT_EQ(result.attachments.at("lumivale-asset-0").pathExtension, "gif");
  EXPECT_EQ(result.attachments.at("lumivale-asset-1").pathExtension, "tiff");
}

TEST(InlineLocalAssetsTest, SchemeTestUsesUnicodeLettersAndNumbers) {
  EXPECT_TRUE(hasURLScheme("C:pictures/a.png"));
  EXPECT_TRUE(hasURLScheme("https://x"));
  EXPECT_TRUE(hasURLScheme("x-y.z+w:rest"));
  EXPECT_TRUE(hasURLScheme("\u00e9t\u00e9:x")); // letters beyond ASCII
  EXPECT_TRUE(hasURLScheme("a\u0663:x"));       // Arabic-Indic digit three
  EXPECT_FALSE(hasURLScheme("1:a.png"));
  EXPECT_FALSE(hasURLScheme(":a.png"));
  EXPECT_FALSE(hasURLScheme("a.png"));
  EXPECT_FALSE(hasURLScheme("a_b:x"));
  EXPECT_FALSE(hasURLScheme("a b:x"));
  EXPECT_FALSE(hasURLScheme("\u0663a:x")); // a number cannot come first
  EXPECT_FALSE(resolveLocalImageURL("C:pictures/a.png", kBase));
  EXPECT_EQ(resolveLocalImageURL("1:a.png", kBase)->path(), "/docs/1:a.png");
}

TEST(InlineLocalAssetsTest, ScannerAgreesWithAPlainSearch) {
  for (const std::string text :
       {"![a](b)![c](d \"t\")", "![![a](b)](c)", "![a](b![c](d)", "![](x)![](y", "![a]](b)",
        "x![a\n](b \"q\" )![c](d \"e\")", "![a](b \"c) ![d](e)", "![](a](b)![c](d)",
        "![\u00e9\u4e2d](\u00e9.png \"\u2028\")", "![a](b\u00a0\"t\")", "![](a![](b![](c)",
        "![a](b \"x\"![c](d)", "!!![[a](b)", "![a](b)c)"}) {
    EXPECT_EQ(scanned(text), plainSearch(text)) << text;
  }
  // Random texts over the pattern's own alphabet.
  const std::vector<std::string> pieces{"!",  "[", "]",      "(",  ")",  " ",
                                        "\"", "a", "\u00a0", "![", "](", "\n"};
  std::uint32_t seed = 12345;
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (int n = 0; n < 24; ++n) {
      seed = seed * 1664525u + 1013904223u;
      text += pieces[(seed >> 16) % pieces.size()];
    }
    ASSERT_EQ(scanned(text), plainSearch(text)) << text;
  }
}

// A quadratic scan would take hours on these inputs; the test's time-out turns it into a failure.
TEST(InlineLocalAssetsTest, HostileInputsScanInLinearTime) {
  std::string openers;
  for (int i = 0; i < 1'000'000; ++i)
    openers += "![";
  EXPECT_TRUE(scanned(openers).empty());
  EXPECT_TRUE(scanned(openers + "]").empty());
  std::string runs;
  for (int i = 0; i < 300'000; ++i)
    runs += "![](a";
  EXPECT_TRUE(scanned(runs).empty());
  std::string titles;
  for (int i = 0; i < 300'000; ++i)
    titles += "![](a \"";
  EXPECT_TRUE(scanned(titles).empty());
}

class BoundedFileReaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("lumivale-reader-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  URL url(const std::string& name) const { return URL::fileURLWithPath((dir_ / name).string()); }
  void write(const std::string& name, std::size_t size) {
    std::ofstream(dir_ / name, std::ios::binary) << std::string(size, 'a');
  }
  fs::path dir_;
};

TEST_F(BoundedFileReaderTest, ReadsRegularFilesAndLinksToThemUpToCapPlusOne) {
  write("small.png", 10);
  write("big.png", 1000);
  fs::create_symlink(dir_ / "small.png", dir_ / "link.png");
  Reader read = boundedFileReader(100);
  EXPECT_EQ(read(url("small.png")).size(), 10u);
  EXPECT_EQ(read(url("link.png")).size(), 10u);
  EXPECT_EQ(read(url("big.png")).size(), 101u);
  EXPECT_EQ(boundedFileReader(10)(url("small.png")).size(), 10u);
  EXPECT_THROW(boundedFileReader(-1)(url("small.png")), std::exception);
  EXPECT_EQ(boundedFileReader(0)(url("small.png")).size(), 1u);
}

TEST_F(BoundedFileReaderTest, RefusesFIFOsDevicesDirectoriesAndMissingFiles) {
  ASSERT_EQ(::mkfifo((dir_ / "pipe.png").c_str(), 0600), 0);
  fs::create_directories(dir_ / "folder.png");
  // A read that blocked on the FIFO or streamed /dev/zero would hang until the test's time-out.
  Reader read = boundedFileReader(kPerImage);
  EXPECT_THROW(read(url("pipe.png")), std::exception);
  EXPECT_THROW(read(URL::fileURLWithPath("/dev/zero")), std::exception);
  EXPECT_THROW(read(url("folder.png")), std::exception);
  EXPECT_THROW(read(url("missing.png")), std::exception);

  // Through the inliner the references stay as written.
  std::string climb;
  for (char c : dir_.string())
    if (c == '/')
      climb += "../";
  const std::string markdown = "![p](pipe.png) ![z](" + climb + "dev/zero) ![d](folder.png)";
  auto result = rewriteMarkdownImages(markdown, url(""), read, kPerImage, kTotal);
  EXPECT_EQ(result.markdown, markdown);
  EXPECT_TRUE(result.attachments.empty());
}

TEST_F(BoundedFileReaderTest, PathsWithANulByteNameNoFile) {
  write("a.png", 4);
  Reader read = boundedFileReader(kPerImage);
  EXPECT_THROW(
      read(URL::fileURLWithPath((dir_ / "a.png").string() + std::string(1, '\0') + ".txt")),
      std::exception);
  // "%00" decodes to a NUL byte; the reference must not reach a.png through it.
  const std::string markdown = "![x](a.png%00.txt) ![y](a.png)";
  auto result = rewriteMarkdownImages(markdown, url(""), read, kPerImage, kTotal);
  EXPECT_EQ(result.markdown, "![x](a.png%00.txt) ![y](cid:lumivale-asset-0)");
  EXPECT_EQ(result.attachments.size(), 1u);
}
