#include "PreviewCore/PreviewProviderFrame.h"
#include "PreviewCore/PreviewReplyBuilder.h"

#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace {

struct Completion {
  std::optional<QLPreviewReply> reply;
  std::optional<NSError> error;
};

// A provider whose pipeline returns a fixed page or throws, and records the thread it ran on.
class FakeProvider : public PreviewProviderFrame {
public:
  using PreviewProviderFrame::providePreview;
  explicit FakeProvider(bool fail) : fail_(fail) {}
  QLPreviewReply providePreview(const QLFilePreviewRequest& request) override {
    pipelineThread = std::this_thread::get_id();
    if (fail_)
      throw NSErrorException({"TestDomain", 7, "no preview for you"});
    return PreviewReplyBuilder::makeReply("<p>h\u00e9</p>", {}, request.fileURL, {1024, 1024});
  }
  std::atomic<std::thread::id> pipelineThread;

private:
  bool fail_;
};

Completion runOnce(const std::shared_ptr<FakeProvider>& provider, const char* path,
                   std::atomic<int>& calls) {
  std::promise<Completion> done;
  provider->providePreview(QLFilePreviewRequest{URL::fileURLWithPath(path)},
                           [&](std::optional<QLPreviewReply> reply, std::optional<NSError> error) {
                             ++calls;
                             done.set_value({std::move(reply), std::move(error)});
                           });
  return done.get_future().get();
}

} // namespace

TEST(PreviewProviderFrameTest, ThrownErrorReachesTheHandlerOnceWithoutReply) {
  auto provider = std::make_shared<FakeProvider>(true);
  std::atomic<int> calls = 0;
  Completion c = runOnce(provider, "/docs/notes.md", calls);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(c.reply);
  ASSERT_TRUE(c.error);
  EXPECT_EQ(c.error->domain, "TestDomain");
  EXPECT_EQ(c.error->code, 7);
}

TEST(PreviewProviderFrameTest, PipelineRunsOffTheCallingThreadAndReplies) {
  auto provider = std::make_shared<FakeProvider>(false);
  std::atomic<int> calls = 0;
  Completion c = runOnce(provider, "/docs/diagram.mmd", calls);
  EXPECT_NE(provider->pipelineThread, std::this_thread::get_id());
  ASSERT_TRUE(c.reply);
  EXPECT_FALSE(c.error);
  EXPECT_EQ(c.reply->title, "diagram");
  EXPECT_EQ(c.reply->contentType(), UTType::html);
  EXPECT_EQ(c.reply->data(), "<p>h\u00e9</p>");
  EXPECT_EQ(c.reply->stringEncoding, StringEncoding::utf8);
  EXPECT_TRUE(c.reply->attachments.empty());
}

TEST(PreviewProviderFrameConcurrency, ManyRequestsEachCompleteExactlyOnce) {
  auto provider = std::make_shared<FakeProvider>(false);
  constexpr int kRequests = 64;
  std::atomic<int> calls = 0;
  std::promise<void> all;
  for (int i = 0; i < kRequests; ++i)
    provider->providePreview(QLFilePreviewRequest{URL::fileURLWithPath("/d/x.md")},
                             [&](std::optional<QLPreviewReply> reply, std::optional<NSError>) {
                               EXPECT_TRUE(reply);
                               if (++calls == kRequests)
                                 all.set_value();
                             });
  ASSERT_EQ(all.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(calls, kRequests);
}

TEST(PreviewReplyBuilderTest, TitlesDropOnlyTheLastExtension) {
  EXPECT_EQ(PreviewReplyBuilder::title(URL::fileURLWithPath("/a/notes.md")), "notes");
  EXPECT_EQ(PreviewReplyBuilder::title(URL::fileURLWithPath("/a/Weekly.Report.md")),
            "Weekly.Report");
  EXPECT_EQ(PreviewReplyBuilder::title(URL::fileURLWithPath("/a/README")), "README");
}

TEST(PreviewReplyBuilderTest, AttachmentsAreTypedByExtensionWithDataAsFallback) {
  InlineLocalAssets::AttachmentMap in{{"lumivale-asset-0", {"PNG", "png"}},
                                      {"lumivale-asset-1", {"x", ""}},
                                      {"lumivale-asset-2", {"y", "weird"}},
                                      {"lumivale-asset-3", {"<svg/>", "svg"}}};
  auto out = PreviewReplyBuilder::replyAttachments(in);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out.at("lumivale-asset-0").contentType(), UTType::png);
  EXPECT_EQ(out.at("lumivale-asset-0").data(), "PNG");
  EXPECT_EQ(out.at("lumivale-asset-1").contentType(), UTType::data);
  EXPECT_EQ(out.at("lumivale-asset-2").contentType(), UTType::data);
  EXPECT_EQ(out.at("lumivale-asset-3").contentType(), UTType::svg);

  QLPreviewReply reply =
      PreviewReplyBuilder::makeReply("page", out, URL::fileURLWithPath("/n.ipynb"), {1100, 900});
  EXPECT_EQ(reply.contentSize(), (CGSize{1100, 900}));
  EXPECT_EQ(reply.data(), "page");
  EXPECT_EQ(reply.attachments.size(), 4u);
}
