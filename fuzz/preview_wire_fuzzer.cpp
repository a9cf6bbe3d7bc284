// Fuzzes the wire format between the preview service and the extensions:
// - any byte string either decodes as a frame or is refused with WireError (nothing else is
//   thrown); a frame's request or reply either decodes or is refused, and what decodes encodes
//   back to the very same bytes (the format has one spelling per message);
// - the stream readers (readFrame, readReply) over a pipe agree with decoding the same bytes
//   from memory, frame after frame;
// - a reply built from the input encodes, through both encoders, to a frame that decodes to it.
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

// Decodes one frame from memory and checks that what it holds re-encodes to its bytes.
void checkFrameBytes(std::string_view bytes) {
  Frame frame;
  try {
    frame = decodeFrame(bytes, kMaxPayload);
  } catch (const WireError&) {
    return;
  }
  require(frame.payload.size() + kHeaderSize == bytes.size(), "a frame is header and payload");
  try {
    if (frame.type == MessageType::request) {
      const Request request = decodeRequest(frame);
      require(!request.path.empty(), "a request names a file");
      require(encodeRequest(request) == bytes, "a decoded request encodes to its bytes");
    } else {
      const Reply reply = decodeReply(frame);
      require(encodeReply(reply) == bytes, "a decoded reply encodes to its bytes");
    }
  } catch (const WireError&) {
  }
}

// Writes `bytes` into a pipe and reads frames (or replies) until the stream ends or is refused;
// the same split must come from decoding the bytes in memory.
void checkStream(std::string_view bytes, bool replies) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return;
  ::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
  const bool written = writeAll(fds[1], bytes);
  ::close(fds[1]);
  require(written, "the pipe takes the input");

  std::size_t at = 0;
  for (;;) {
    std::optional<Frame> frame;
    std::optional<Reply> reply;
    bool refused = false;
    try {
      if (replies)
        reply = readReply(fds[0], kMaxPayload);
      else
        frame = readFrame(fds[0], kMaxPayload);
    } catch (const WireError&) {
      refused = true;
    }
    const std::string_view rest = bytes.substr(at);
    if (!refused && !frame && !reply) {
      require(rest.empty(), "the stream ends cleanly only between frames");
      break;
    }
    // Where the frame ends by its header, if it has one.
    std::size_t length = rest.size();
    if (rest.size() >= kHeaderSize) {
      std::uint32_t payload;
      std::memcpy(&payload, rest.data() + 16, 4);
      length = std::min<std::size_t>(rest.size(), kHeaderSize + payload);
    }
    std::optional<Frame> expected;
    std::optional<Reply> expectedReply;
    try {
      expected = decodeFrame(rest.substr(0, length), kMaxPayload);
      if (replies)
        expectedReply = decodeReply(*expected);
    } catch (const WireError&) {
    }
    if (refused) {
      require(!expected || (replies && !expectedReply),
              "the stream refuses only what decoding refuses");
      break;
    }
    if (replies) {
      require(expectedReply && sameReply(*reply, *expectedReply),
              "readReply gives the decoded reply");
    } else {
      require(expected && frame->type == expected->type && frame->id == expected->id &&
                  frame->payload == expected->payload,
              "readFrame gives the decoded frame");
    }
    at += length;
  }
  ::close(fds[0]);
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
  const std::string bytes = encodeReply(reply);
  const OutgoingFrame outgoing = encodeReplyFrame(reply);
  require(outgoing.size() == bytes.size() && outgoing.bytes() == bytes,
          "both reply encoders give the same bytes");
  const Reply decoded = decodeReply(decodeFrame(bytes, kMaxReplyPayload));
  require(sameReply(decoded, reply), "an encoded reply decodes to itself");

  Request request{provider.ConsumeIntegral<std::uint64_t>(), provider.ConsumeRandomLengthString(),
                  provider.ConsumeRandomLengthString(64)};
  const std::string requestBytes = encodeRequest(request);
  try {
    require(decodeRequest(decodeFrame(requestBytes, kMaxRequestPayload)) == request,
            "an encoded request decodes to itself");
  } catch (const WireError&) {
    require(request.path.empty() || request.path.find('\0') != std::string::npos,
            "only a request without a usable path is refused");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = FuzzSupport::bytes(data, size);
  checkFrameBytes(bytes);
  checkStream(bytes, false);
  checkStream(bytes, true);
  FuzzedDataProvider provider(data, size);
  checkBuiltReply(provider);
  return 0;
}
