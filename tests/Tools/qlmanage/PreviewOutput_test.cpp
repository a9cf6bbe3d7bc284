#include "PreviewOutput.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using PreviewWire::PageFile;

namespace {

class PreviewOutputTest : public testing::Test {
protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lumivale-output-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    root_ = pattern;
    fs::create_directories(root_ / "memory");
    fs::create_directories(root_ / "file");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // What a folder holds: each file's name and bytes, hidden ones included.
  static std::map<std::string, std::string> contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      std::ostringstream bytes;
      if (entry.is_regular_file())
        bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
      files[fs::relative(entry.path(), folder).string()] = bytes.str();
    }
    return files;
  }

  fs::path root_;
};

PreviewWire::Reply replyWith(std::string page) {
  PreviewWire::Reply reply;
  reply.title = "notes";
  reply.contentType = "public.html";
  reply.width = 800;
  reply.height = 600;
  reply.stringEncoding = "utf-8";
  reply.data = std::move(page);
  reply.attachments.push_back({"lumivale-asset-0", "public.png", "image/png", "\x89PNG\r\n"});
  return reply;
}

// Writes `page` into the page file as a reply's page would arrive.
void receive(const std::shared_ptr<PageFile>& file, std::string_view page) {
  PageFile::Transfer transfer(PageFile::claim(file));
  transfer.write(page);
  transfer.finish();
}

} // namespace

// A folder whose page arrived in Preview.html holds the very bytes of one written from a reply
// that carries its page, for pages whose resolver goes anywhere: after a <head> at the top or
// far down (beyond the start that is read first, or cut by its end), after a doctype, at the
// start.
TEST_F(PreviewOutputTest, APageReceivedAsAFileGivesTheSameFolder) {
  const std::string far(70000, 'x');
  auto cutAt = [](std::size_t at) { return "<p>" + std::string(at - 3, 'y') + "<head>"; };
  const std::vector<std::string> pages = {
      "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>t</title></head>"
      "<body><p>text</p></body></html>",
      "<!doctype html><!--" + far + "--><HEAD\n lang=\"en\"><title>far</title>",
      "<header><p>" + far + "</p></header><head>late",
      "<!DOCTYPE html><p>no head at all" + far,
      "<!DOCTYPE html><head " + far,
      "<p>neither" + far,
      cutAt(65536 - 2),
      cutAt(65536 - 5),
      cutAt(65536 - 6),
      "<head>",
      "",
  };
  for (std::size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE(i);
    const PreviewWire::Reply reply = replyWith(pages[i]);
    const fs::path fromMemory = PreviewOutput::writePreviewFolder(root_ / "memory", "a.md", reply);

    PreviewOutput::PreviewFolder folder(root_ / "file", "a.md");
    receive(folder.pageFile(), reply.data);
    PreviewWire::Reply withoutPage = reply;
    withoutPage.data.clear();
    const fs::path fromFile = folder.finish(withoutPage);

    const auto expected = contents(fromMemory);
    EXPECT_EQ(contents(fromFile), expected);
    const std::string standalone = expected.at("Standalone.html");
    const std::size_t at = PreviewOutput::insertionPoint(reply.data);
    EXPECT_EQ(standalone.substr(0, at), reply.data.substr(0, at));
    EXPECT_EQ(standalone.substr(standalone.size() - (reply.data.size() - at)),
              reply.data.substr(at));
  }
  // Each run replaced the folder before it; nothing else is left.
  EXPECT_EQ(contents(root_ / "file").size(), contents(root_ / "memory").size());
}

// A page that could not be written whole into the page file fails the folder; neither the
// folder nor its staging folder is left, and an earlier folder of the same name stays.
TEST_F(PreviewOutputTest, APageFileThatFailedLeavesNothingBehind) {
  const PreviewWire::Reply earlier = replyWith("<head>earlier");
  PreviewOutput::writePreviewFolder(root_ / "file", "a.md", earlier);
  const auto before = contents(root_ / "file");

  PreviewWire::Reply reply = replyWith(std::string(2 << 20, 'p'));
  {
    PreviewOutput::PreviewFolder folder(root_ / "file", "a.md");
    const std::shared_ptr<PageFile> file = folder.pageFile();
    // The page is larger than this process may write to a file.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    receive(file, reply.data);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(file->receivedSize());
    EXPECT_THAT(file->failure(), testing::HasSubstr("cannot write the page: File too large"));

    reply.data.clear();
    EXPECT_THAT([&] { folder.finish(reply); },
                testing::ThrowsMessage<std::runtime_error>(
                    "cannot write the preview: cannot write the page: File too large"));
  }
  EXPECT_EQ(contents(root_ / "file"), before);
}

// A folder dropped before it is finished (its reply failed) leaves nothing behind.
TEST_F(PreviewOutputTest, AnUnfinishedFolderLeavesNothingBehind) {
  {
    PreviewOutput::PreviewFolder folder(root_ / "file", "a.md");
    receive(folder.pageFile(), "<head>page");
    EXPECT_EQ(contents(root_ / "file").size(), 2u); // the staging folder and its page
  }
  EXPECT_TRUE(contents(root_ / "file").empty());
}

// A reply without attachments has nothing to resolve: its standalone page is Preview.html under
// a second name, not a second copy, whether the page came with the reply or into the page file.
// Replacing such a folder (and being replaced by one with attachments) leaves only the new one.
TEST_F(PreviewOutputTest, AReplyWithoutAttachmentsWritesItsPageOnce) {
  PreviewWire::Reply reply = replyWith("<!DOCTYPE html><head><title>t</title></head><p>page");
  reply.attachments.clear();
  auto sameFile = [](const fs::path& folder) {
    struct stat page {};
    struct stat standalone {};
    EXPECT_EQ(::stat((folder / "Preview.html").c_str(), &page), 0);
    EXPECT_EQ(::stat((folder / "Standalone.html").c_str(), &standalone), 0);
    return page.st_ino == standalone.st_ino && page.st_dev == standalone.st_dev;
  };

  const fs::path fromMemory = PreviewOutput::writePreviewFolder(root_ / "memory", "a.md", reply);
  EXPECT_TRUE(sameFile(fromMemory));
  EXPECT_EQ(contents(fromMemory).at("Standalone.html"), reply.data);

  for (int round = 0; round < 2; ++round) {
    PreviewOutput::PreviewFolder folder(root_ / "file", "a.md");
    receive(folder.pageFile(), reply.data);
    PreviewWire::Reply withoutPage = reply;
    withoutPage.data.clear();
    const fs::path fromFile = folder.finish(withoutPage);
    EXPECT_TRUE(sameFile(fromFile));
    EXPECT_EQ(contents(fromFile), contents(fromMemory));
  }
  EXPECT_EQ(contents(root_ / "file").size(), 4u); // the folder and its three files

  const fs::path withAttachment =
      PreviewOutput::writePreviewFolder(root_ / "file", "a.md", replyWith(reply.data));
  EXPECT_FALSE(sameFile(withAttachment));
  EXPECT_THAT(contents(withAttachment).at("Standalone.html"),
              testing::HasSubstr("\"lumivale-asset-0\":\"data:image/png;base64,"));
  EXPECT_EQ(contents(root_ / "file").size(), 5u);
}
