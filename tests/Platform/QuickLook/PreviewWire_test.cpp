#include "QuickLook/ExtensionMain.h"
#include "QuickLook/PreviewWire.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace PreviewWire;

namespace {

Reply sampleReply() {
  Reply reply;
  reply.id = 0xFFFFFFFF01ull;
  reply.title = "notes";
  reply.contentType = "public.html";
  reply.width = 1024;
  reply.height = 1024;
  reply.stringEncoding = "utf-8";
  reply.data = std::string("<p>\0binary\xff</p>", 16);
  reply.attachments.push_back(
      {"lumivale-asset-0", "public.png", "image/png", std::string(3, '\0')});
  reply.attachments.push_back({"lumivale-asset-1", "public.data", "", ""});
  reply.dependencies = {"/docs/red.png", "/docs/not there.png"};
  return reply;
}

// Writes `bytes` (less than a pipe's buffer) into a pipe and closes the write end, so reads see
// them and then EOF.
int pipeWith(const std::string& bytes) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  EXPECT_TRUE(writeAll(fds[1], bytes));
  ::close(fds[1]);
  return fds[0];
}

std::string replyBytes(const Reply& reply) {
  return encodeReplyFrame(reply).bytes();
}

// The request read back from its frame's bytes.
Request readRequestFrom(const std::string& bytes) {
  int fd = pipeWith(bytes);
  std::optional<Frame> frame = readFrame(fd, kMaxRequestPayload);
  ::close(fd);
  if (!frame)
    throw WireError("no frame");
  return decodeRequest(*frame);
}

// The reply read back from its frame's bytes.
std::optional<Reply> readReplyFrom(const std::string& bytes) {
  int fd = pipeWith(bytes);
  std::optional<Reply> reply;
  try {
    reply = readReply(fd, kMaxReplyPayload);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  return reply;
}

} // namespace

TEST(PreviewWireTest, RequestsAndRepliesRoundTrip) {
  Request request{42, "/docs/a b.md"};
  EXPECT_EQ(readRequestFrom(encodeRequest(request)), request);
  Reply reply = sampleReply();
  EXPECT_EQ(readReplyFrom(replyBytes(reply)), reply);
  Reply failure = errorReply(7, {"NSCocoaErrorDomain", 260, "no such file"});
  EXPECT_EQ(readReplyFrom(replyBytes(failure)), failure);
}

TEST(PreviewWireTest, StreamsYieldFramesThenCleanEnd) {
  int fd = pipeWith(encodeRequest({1, "/a"}) + encodeRequest({2, "/b"}));
  EXPECT_EQ(decodeRequest(*readFrame(fd, kMaxRequestPayload)).path, "/a");
  EXPECT_EQ(decodeRequest(*readFrame(fd, kMaxRequestPayload)).id, 2u);
  EXPECT_FALSE(readFrame(fd, kMaxRequestPayload));
  ::close(fd);
}

TEST(PreviewWireTest, TruncatedAndGarbageFramesAreRejected) {
  const std::string good = replyBytes(sampleReply());
  // Every proper prefix of a frame is an error on a stream (except the empty one).
  for (std::size_t cut = 1; cut < good.size(); ++cut) {
    int fd = pipeWith(good.substr(0, cut));
    EXPECT_THROW(readFrame(fd, kMaxReplyPayload), WireError) << cut;
    ::close(fd);
  }
  EXPECT_THROW(readReplyFrom("garbage garbage garbage"), WireError);
  std::string wrongVersion = good;
  wrongVersion[4] = 1; // the version before requests dropped their content type
  EXPECT_THROW(readReplyFrom(wrongVersion), WireError);

  // A header announcing a huge payload is refused before anything is allocated for it.
  std::string huge = encodeRequest({1, "/a"}).substr(0, kHeaderSize);
  huge[16] = huge[17] = huge[18] = huge[19] = '\xff';
  int fd = pipeWith(huge);
  EXPECT_THROW(readFrame(fd, kMaxRequestPayload), WireError);
  ::close(fd);

  // A reply is no request, a request no reply; a request's path must be usable.
  EXPECT_THROW(readRequestFrom(good), WireError);
  EXPECT_THROW(readReplyFrom(encodeRequest({1, "/a"})), WireError);
  EXPECT_THROW(readRequestFrom(encodeRequest({1, ""})), WireError);
  EXPECT_THROW(readRequestFrom(encodeRequest({1, std::string("/a\0b", 4)})), WireError);
  EXPECT_THROW(encodeRequest({1, std::string(kMaxRequestPayload, 'a')}), WireError);
}

TEST(PreviewWireTest, StreamedRepliesRoundTripAndRejectDamage) {
  // A reply large enough to be sent by reference and to span many pipe writes and reads, sent
  // from a thread while the reader grows its buffers.
  Reply big = sampleReply();
  big.data.assign(3 << 20, 'x');
  big.data[12345] = '\0';
  big.attachments[0].data.assign(70000, '\x89');
  const OutgoingFrame outgoing = encodeReplyFrame(big);
  EXPECT_EQ(outgoing.size(), outgoing.bytes().size());
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::thread writer([&] {
    EXPECT_TRUE(outgoing.writeTo(fds[1]));
    EXPECT_TRUE(encodeReplyFrame(sampleReply()).writeTo(fds[1]));
    ::close(fds[1]);
  });
  std::optional<Reply> first = readReply(fds[0], kMaxReplyPayload);
  std::optional<Reply> second = readReply(fds[0], kMaxReplyPayload);
  writer.join();
  EXPECT_TRUE(first && *first == big);
  EXPECT_TRUE(second && *second == sampleReply());
  EXPECT_FALSE(readReply(fds[0], kMaxReplyPayload));
  ::close(fds[0]);

  // Cut short anywhere, a streamed reply fails. With any byte of the payload damaged it either
  // fails or reads as exactly what those bytes say: written again, it gives the same bytes.
  const std::string good = replyBytes(sampleReply());
  for (std::size_t cut = 1; cut < good.size(); ++cut)
    EXPECT_THROW(readReplyFrom(good.substr(0, cut)), WireError) << cut;
  std::size_t rejected = 0;
  for (std::size_t at = kHeaderSize; at < good.size(); ++at) {
    std::string corrupt = good;
    corrupt[at] = '\xff';
    try {
      std::optional<Reply> reply = readReplyFrom(corrupt);
      ASSERT_TRUE(reply) << at;
      EXPECT_EQ(replyBytes(*reply), corrupt) << at;
    } catch (const WireError&) {
      ++rejected;
    }
  }
  // Every length field and the status byte are among the damaged bytes that are refused.
  EXPECT_GE(rejected, 14u);
}

namespace {

// An empty scratch file open for reading and writing, already unlinked.
int scratchFile() {
  char path[] = "/tmp/lumivale-page-XXXXXX";
  const int fd = ::mkstemp(path);
  EXPECT_GE(fd, 0);
  ::unlink(path);
  return fd;
}

std::string contentsOf(int fd) {
  std::string bytes;
  char buffer[65536];
  ssize_t n;
  for (off_t at = 0; (n = ::pread(fd, buffer, sizeof buffer, at)) > 0; at += n)
    bytes.append(buffer, static_cast<std::size_t>(n));
  return bytes;
}

// A reply with a page of `size` bytes that differ from one position to the next, so that a
// piece out of place or missing shows.
Reply replyWithPage(std::uint64_t id, std::size_t size) {
  Reply reply = sampleReply();
  reply.id = id;
  reply.data.resize(size);
  for (std::size_t i = 0; i < size; ++i)
    reply.data[i] = static_cast<char>((i * 7 + i / 4093) & 0xFF);
  return reply;
}

// The reply as read with its page going into `file` (when a claim on it is given for its id).
PageDestination into(const std::shared_ptr<PageFile>& file, std::uint64_t id) {
  return [file, id](std::uint64_t asked) {
    return asked == id ? PageFile::claim(file) : PageFile::Claim{};
  };
}

} // namespace

// From a pipe the page moves into the file in the kernel; from any other stream it is read and
// written. Either way the file holds the page, the reply the rest, and the next frame reads.
TEST(PreviewWirePageFileTest, APageGoesIntoItsFileAndTheStreamStaysInStep) {
  for (const bool fromPipe : {true, false}) {
    SCOPED_TRACE(fromPipe ? "pipe" : "regular file");
    const Reply big = replyWithPage(7, (3 << 20) + 17); // beyond the pipe's buffer
    Reply small = replyWithPage(8, 100);                // held in the read-ahead buffer
    int stream = -1;
    std::thread writer;
    if (fromPipe) {
      int fds[2];
      ASSERT_EQ(::pipe(fds), 0);
      stream = fds[0];
      writer = std::thread([&, out = fds[1]] {
        EXPECT_TRUE(encodeReplyFrame(big).writeTo(out));
        EXPECT_TRUE(encodeReplyFrame(small).writeTo(out));
        EXPECT_TRUE(encodeReplyFrame(sampleReply()).writeTo(out));
        ::close(out);
      });
    } else {
      stream = scratchFile();
      ASSERT_TRUE(
          writeAll(stream, replyBytes(big) + replyBytes(small) + replyBytes(sampleReply())));
      ASSERT_EQ(::lseek(stream, 0, SEEK_SET), 0);
    }
    auto bigFile = std::make_shared<PageFile>(scratchFile());
    auto smallFile = std::make_shared<PageFile>(scratchFile());
    std::optional<Reply> first = readReply(stream, kMaxReplyPayload, into(bigFile, 7));
    std::optional<Reply> second = readReply(stream, kMaxReplyPayload, into(smallFile, 8));
    std::optional<Reply> third = readReply(stream, kMaxReplyPayload, into(bigFile, 7));
    if (writer.joinable())
      writer.join();
    ::close(stream);
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(contentsOf(bigFile->fd()), big.data);
    EXPECT_EQ(bigFile->receivedSize(), big.data.size());
    EXPECT_EQ(contentsOf(smallFile->fd()), small.data);
    Reply withoutPage = big;
    withoutPage.data.clear();
    EXPECT_EQ(*first, withoutPage);
    small.data.clear();
    EXPECT_EQ(*second, small);
    EXPECT_EQ(*third, sampleReply()); // no claim for its id: the page stays in the reply
  }
}

// A stream that ends inside the page fails the read, and the file reports nothing received:
// what it holds is never taken for a page.
TEST(PreviewWirePageFileTest, AStreamCutInsideThePageReceivesNothing) {
  const std::string bytes = replyBytes(replyWithPage(7, 3 << 20));
  for (const std::size_t cut :
       {std::size_t(200), std::size_t(70000), bytes.size() / 2, bytes.size() - 300}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([&, out = fds[1]] {
      writeAll(out, std::string_view(bytes).substr(0, cut));
      ::close(out);
    });
    auto file = std::make_shared<PageFile>(scratchFile());
    EXPECT_THROW(readReply(fds[0], kMaxReplyPayload, into(file, 7)), WireError) << cut;
    writer.join();
    ::close(fds[0]);
    EXPECT_FALSE(file->receivedSize()) << cut;
  }
}

// A file that takes no bytes is a failure of that page alone: the reply is read to its end and
// the next frame after it reads as usual.
TEST(PreviewWirePageFileTest, AFileThatCannotBeWrittenRecordsTheFailure) {
  const Reply big = replyWithPage(7, 2 << 20);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::thread writer([&, out = fds[1]] {
    EXPECT_TRUE(encodeReplyFrame(big).writeTo(out));
    EXPECT_TRUE(encodeReplyFrame(sampleReply()).writeTo(out));
    ::close(out);
  });
  auto readOnly = std::make_shared<PageFile>(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  std::optional<Reply> first = readReply(fds[0], kMaxReplyPayload, into(readOnly, 7));
  std::optional<Reply> second = readReply(fds[0], kMaxReplyPayload);
  writer.join();
  ::close(fds[0]);
  ASSERT_TRUE(first && second);
  EXPECT_FALSE(readOnly->receivedSize());
  EXPECT_THAT(readOnly->failure(), testing::StartsWith("cannot write the page: "));
  EXPECT_EQ(*second, sampleReply());
}

// Answers under a lapsed claim write nothing; the latest answer is what the file holds, cut to
// its size even after a longer one.
TEST(PreviewWirePageFileTest, OnlyTheLatestClaimWrites) {
  auto file = std::make_shared<PageFile>(scratchFile());
  const PageFile::Claim first = PageFile::claim(file);
  const PageFile::Claim second = PageFile::claim(file);
  auto answer = [&](const PageFile::Claim& claim, const std::string& page) {
    const int fd = pipeWith(page);
    PageFile::Transfer transfer(claim);
    std::size_t rest = page.size();
    while (rest > 0) {
      if (const std::size_t moved = transfer.moveFrom(fd, rest)) {
        rest -= moved;
        continue;
      }
      char buffer[4096];
      const ssize_t got = ::read(fd, buffer, std::min(rest, sizeof buffer));
      ASSERT_GT(got, 0);
      transfer.write({buffer, static_cast<std::size_t>(got)});
      rest -= static_cast<std::size_t>(got);
    }
    transfer.finish();
    ::close(fd);
  };
  answer(second, std::string(5000, 'b'));
  answer(first, std::string(6000, 'a')); // a late answer under the lapsed claim
  EXPECT_EQ(contentsOf(file->fd()), std::string(5000, 'b'));
  EXPECT_EQ(file->receivedSize(), 5000u);
  const PageFile::Claim third = PageFile::claim(file);
  answer(third, "ccc");
  EXPECT_EQ(contentsOf(file->fd()), "ccc");
  EXPECT_EQ(file->receivedSize(), 3u);
}

namespace {

class EchoProvider : public QLPreviewProvider {
public:
  void providePreview(const QLFilePreviewRequest& request,
                      QLPreviewCompletionHandler handler) override {
    std::thread([request, handler = std::move(handler)] {
      if (request.fileURL.path() == "/fail") {
        handler(std::nullopt, NSError{"D", 5, "failed"});
        return;
      }
      QLPreviewReply reply(UTType::html, {10, 20},
                           [path = request.fileURL.path()](QLPreviewReply& r) {
                             r.stringEncoding = StringEncoding::utf8;
                             return "page for " + path;
                           });
      reply.title = "t";
      handler(std::move(reply), std::nullopt);
    }).detach();
  }
};

} // namespace

TEST(ExtensionMainConcurrency, ServesEveryRequestAndMatchesRepliesById) {
  std::string input;
  for (std::uint64_t id = 1; id <= 50; ++id)
    input += encodeRequest({id, id == 7 ? "/fail" : "/doc" + std::to_string(id)});
  // A request whose payload does not decode gets an error reply of its own.
  std::string bad = encodeRequest({99, ""});
  input += bad;
  int in = pipeWith(input);
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  std::string replies;
  std::thread drain([&] {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
      replies.append(buffer, static_cast<std::size_t>(n));
  });
  EchoProvider provider;
  EXPECT_EQ(QLServePreviewRequests(provider, in, out[1]), 0);
  ::close(out[1]);
  drain.join();
  ::close(in);

  int fd = pipeWith(replies);
  std::map<std::uint64_t, Reply> byId;
  while (std::optional<Reply> r = readReply(fd, kMaxReplyPayload))
    byId[r->id] = *r;
  ::close(fd);
  ASSERT_EQ(byId.size(), 51u);
  EXPECT_EQ(byId[3].data, "page for /doc3");
  EXPECT_EQ(byId[3].stringEncoding, "utf-8");
  EXPECT_EQ(byId[3].width, 10);
  ASSERT_TRUE(byId[7].error);
  EXPECT_EQ(byId[7].error->code, 5);
  ASSERT_TRUE(byId[99].error);
  EXPECT_EQ(byId[99].error->domain, "Lumivale.PreviewService");
  EXPECT_EQ(byId[99].error->code, 2);
  EXPECT_EQ(byId[99].error->localizedDescription,
            "The preview request is malformed: the request names no usable file path");
}

TEST(ExtensionMainTest, TruncatedInputEndsServingWithStatusTwo) {
  std::string frame = encodeRequest({1, "/doc"});
  int in = pipeWith(frame.substr(0, frame.size() - 1));
  int out = ::open("/dev/null", O_WRONLY);
  EchoProvider provider;
  testing::internal::CaptureStderr();
  EXPECT_EQ(QLServePreviewRequests(provider, in, out), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("malformed request"), std::string::npos);
  ::close(in);
  ::close(out);
}
