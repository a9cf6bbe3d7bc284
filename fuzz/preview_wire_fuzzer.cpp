// Fuzzes the wire format between the preview service and the extensions:
// - any byte stream is read (readFrame, readReply over a pipe) frame after frame until it ends or
//   is refused with WireError (nothing else is thrown), and what is read encodes back to the very
//   same bytes (the format has one spelling per message);
// - a reply or request built from the input encodes to a frame that decodes to it.
#include "FuzzSupport.h"
#include "QuickLook/PreviewWire.h"

#include <bit>
#include <cstring>
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

using namespace PreviewWire;
using FuzzSupport::require;

namespace {

constexpr std::uint32_t kMaxPayload = 4096; // the fuzzer's inputs are smaller

// Reply equality with the sizes compared bit for bit (a NaN width travels as it is).
bool sameReply(const Reply& a, const Reply& b) {
  return a.id == b.id && a.error == b.error && a.title == b.title &&
         a.contentType == b.contentType &&
         std::bit_cast<std::uint64_t>(a.width) == std::bit_cast<std::uint64_t>(b.width) &&
         std::bit_cast<std::uint64_t>(a.height) == std::bit_cast<std::uint64_t>(b.height) &&
         a.stringEncoding == b.stringEncoding && a.data == b.data && a.attachments == b.attachments;
}

// A pipe holding `bytes` (then closed for writing), for the stream readers; -1 when the system
// cannot give one.
int pipeHolding(std::string_view bytes) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return -1;
  ::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
  const bool written = writeAll(fds[1], bytes);
  ::close(fds[1]);
  require(written, "the pipe takes the input");
  return fds[0];
}

// Where the frame at the start of `rest` ends by its header (all of `rest` when it is shorter).
std::size_t frameLength(std::string_view rest) {
  if (rest.size() < kHeaderSize)
    return rest.size();
  std::uint32_t payload;
  std::memcpy(&payload, rest.data() + 16, 4);
  return std::min<std::size_t>(rest.size(), kHeaderSize + payload);
}

// Reads frames (or replies) from a pipe holding `bytes` until the stream ends or is refused
// (nothing but WireError may be thrown); each request or reply read encodes back to exactly the
// bytes it was read from, since the format has one spelling per message.
void checkStream(std::string_view bytes, bool replies) {
  const int fd = pipeHolding(bytes);
  if (fd < 0)
    return;
  std::size_t at = 0;
  for (;;) {
    std::optional<Frame> frame;
    std::optional<Reply> reply;
    try {
      if (replies)
        reply = readReply(fd, kMaxPayload);
      else
        frame = readFrame(fd, kMaxPayload);
    } catch (const WireError&) {
      break;
    }
    const std::string_view rest = bytes.substr(at);
    if (!frame && !reply) {
      require(rest.empty(), "the stream ends cleanly only between frames");
      break;
    }
    const std::size_t length = frameLength(rest);
    const std::string_view consumed = rest.substr(0, length);
    if (replies) {
      require(encodeReplyFrame(*reply).bytes() == consumed, "a reply read encodes to its bytes");
    } else {
      require(frame->payload.size() + kHeaderSize == length, "a frame is header and payload");
      if (frame->type == MessageType::request) {
        try {
          const Request request = decodeRequest(*frame);
          require(!request.path.empty(), "a request names a file");
          require(encodeRequest(request) == consumed, "a decoded request encodes to its bytes");
        } catch (const WireError&) {
        }
      }
    }
    at += length;
  }
  ::close(fd);
}

void checkBuiltReply(FuzzedDataProvider& provider) {
  Reply reply;
  reply.id = provider.ConsumeIntegral<std::uint64_t>();
  if (provider.ConsumeBool()) {
    NSError error;
    error.domain = provider.ConsumeRandomLengthString(64);
    error.code = provider.ConsumeIntegral<std::int64_t>();
    error.localizedDescription = provider.ConsumeRandomLengthString(256);
    reply.error = error;
  } else {
    reply.title = provider.ConsumeRandomLengthString(64);
    reply.contentType = provider.ConsumeRandomLengthString(64);
    reply.width = std::bit_cast<double>(provider.ConsumeIntegral<std::uint64_t>());
    reply.height = std::bit_cast<double>(provider.ConsumeIntegral<std::uint64_t>());
    reply.stringEncoding = provider.ConsumeRandomLengthString(16);
    // Large enough, now and then, for the frame to refer to the page instead of copying it.
    const std::size_t repeat = provider.ConsumeIntegralInRange<std::size_t>(1, 600);
    const std::string piece = provider.ConsumeRandomLengthString(32);
    for (std::size_t i = 0; i < repeat; ++i)
      reply.data += piece;
    const std::size_t count = provider.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t i = 0; i < count; ++i)
      reply.attachments.push_back(
          {provider.ConsumeRandomLengthString(32), provider.ConsumeRandomLengthString(32),
           provider.ConsumeRandomLengthString(32), provider.ConsumeRandomLengthString(5000)});
  }
  const OutgoingFrame outgoing = encodeReplyFrame(reply);
  const std::string bytes = outgoing.bytes();
  require(outgoing.size() == bytes.size(), "a frame's size is its bytes' size");
  if (const int fd = pipeHolding(bytes); fd >= 0) {
    const std::optional<Reply> decoded = readReply(fd, kMaxReplyPayload);
    ::close(fd);
    require(decoded && sameReply(*decoded, reply), "an encoded reply decodes to itself");
  }

  Request request{provider.ConsumeIntegral<std::uint64_t>(), provider.ConsumeRandomLengthString()};
  const std::string requestBytes = encodeRequest(request);
  if (const int fd = pipeHolding(requestBytes); fd >= 0) {
    try {
      const std::optional<Frame> frame = readFrame(fd, kMaxRequestPayload);
      require(frame && decodeRequest(*frame) == request, "an encoded request decodes to itself");
    } catch (const WireError&) {
      require(request.path.empty() || request.path.find('\0') != std::string::npos,
              "only a request without a usable path is refused");
    }
    ::close(fd);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = FuzzSupport::bytes(data, size);
  checkStream(bytes, false);
  checkStream(bytes, true);
  FuzzedDataProvider provider(data, size);
  checkBuiltReply(provider);
  return 0;
}
