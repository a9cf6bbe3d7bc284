#include "PreviewWire.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace PreviewWire {
namespace {

void putU16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void putU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void putU64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i)
    out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void putBytes(std::string& out, std::string_view bytes, std::uint64_t limit) {
  if (bytes.size() > limit)
    throw WireError("a field of " + std::to_string(bytes.size()) + " bytes is too large to send");
  putU32(out, static_cast<std::uint32_t>(bytes.size()));
  out.append(bytes);
}

std::uint64_t getLE(const char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

// Reads fields from a payload; every read is bounds-checked.
class PayloadReader {
public:
  explicit PayloadReader(std::string_view payload) : rest_(payload) {}
  std::uint64_t integer(int bytes) {
    need(static_cast<std::size_t>(bytes));
    std::uint64_t v = getLE(rest_.data(), bytes);
    rest_.remove_prefix(static_cast<std::size_t>(bytes));
    return v;
  }
  std::string bytes() {
    const std::size_t length = static_cast<std::size_t>(integer(4));
    need(length);
    std::string out(rest_.substr(0, length));
    rest_.remove_prefix(length);
    return out;
  }
  double real() { return std::bit_cast<double>(integer(8)); }
  std::size_t remaining() const { return rest_.size(); }
  void finish() const {
    if (!rest_.empty())
      throw WireError("the payload has " + std::to_string(rest_.size()) + " unexpected bytes");
  }

private:
  void need(std::size_t n) const {
    if (rest_.size() < n)
      throw WireError("the payload ends inside a field");
  }
  std::string_view rest_;
};

std::string frame(MessageType type, std::uint64_t id, const std::string& payload,
                  std::uint32_t maxPayload) {
  if (payload.size() > maxPayload)
    throw WireError("the message is too large (" + std::to_string(payload.size()) + " bytes)");
  std::string out;
  out.reserve(kHeaderSize + payload.size());
  putU32(out, kMagic);
  putU16(out, kVersion);
  putU16(out, static_cast<std::uint16_t>(type));
  putU64(out, id);
  putU32(out, static_cast<std::uint32_t>(payload.size()));
  out += payload;
  return out;
}

struct Header {
  MessageType type;
  std::uint64_t id;
  std::uint32_t length;
};

Header parseHeader(const char* p, std::uint32_t maxPayload) {
  if (getLE(p, 4) != kMagic)
    throw WireError("the frame does not start with the wire magic");
  const auto version = static_cast<std::uint16_t>(getLE(p + 4, 2));
  if (version != kVersion)
    throw WireError("unsupported wire version " + std::to_string(version));
  const auto type = static_cast<std::uint16_t>(getLE(p + 6, 2));
  if (type != static_cast<std::uint16_t>(MessageType::request) &&
      type != static_cast<std::uint16_t>(MessageType::reply))
    throw WireError("unknown message type " + std::to_string(type));
  const auto length = static_cast<std::uint32_t>(getLE(p + 16, 4));
  if (length > maxPayload)
    throw WireError("a payload of " + std::to_string(length) + " bytes exceeds the limit of " +
                    std::to_string(maxPayload));
  return {static_cast<MessageType>(type), getLE(p + 8, 8), length};
}

// Reads exactly n bytes into `out` (appending); returns the count read before EOF.
std::size_t readUpTo(int fd, std::string& out, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    // Grow with the data: at most 1 MiB ahead of what has arrived.
    const std::size_t chunk = std::min<std::size_t>(n - got, 1u << 20);
    const std::size_t old = out.size();
    out.resize(old + chunk);
    ssize_t r = ::read(fd, out.data() + old, chunk);
    if (r < 0 && errno == EINTR) {
      out.resize(old);
      continue;
    }
    if (r < 0) {
      out.resize(old);
      throw WireError(std::string("cannot read from the peer: ") + std::strerror(errno));
    }
    out.resize(old + static_cast<std::size_t>(r));
    if (r == 0)
      break;
    got += static_cast<std::size_t>(r);
  }
  return got;
}

} // namespace

Reply errorReply(std::uint64_t id, NSError error) {
  Reply reply;
  reply.id = id;
  reply.error = std::move(error);
  return reply;
}

std::string encodeRequest(const Request& request) {
  std::string payload;
  putBytes(payload, request.path, kMaxRequestPayload);
  putBytes(payload, request.contentType, kMaxRequestPayload);
  return frame(MessageType::request, request.id, payload, kMaxRequestPayload);
}

std::string encodeReply(const Reply& reply) {
  std::string payload;
  if (reply.error) {
    payload += '\1';
    putBytes(payload, reply.error->domain, kMaxReplyPayload);
    putU64(payload, static_cast<std::uint64_t>(reply.error->code));
    putBytes(payload, reply.error->localizedDescription, kMaxReplyPayload);
    return frame(MessageType::reply, reply.id, payload, kMaxReplyPayload);
  }
  payload += '\0';
  putBytes(payload, reply.title, kMaxReplyPayload);
  putBytes(payload, reply.contentType, kMaxReplyPayload);
  putU64(payload, std::bit_cast<std::uint64_t>(reply.width));
  putU64(payload, std::bit_cast<std::uint64_t>(reply.height));
  putBytes(payload, reply.stringEncoding, kMaxReplyPayload);
  putBytes(payload, reply.data, kMaxReplyPayload);
  putU32(payload, static_cast<std::uint32_t>(reply.attachments.size()));
  for (const ReplyAttachment& a : reply.attachments) {
    putBytes(payload, a.identifier, kMaxReplyPayload);
    putBytes(payload, a.typeIdentifier, kMaxReplyPayload);
    putBytes(payload, a.mimeType, kMaxReplyPayload);
    putBytes(payload, a.data, kMaxReplyPayload);
  }
  return frame(MessageType::reply, reply.id, payload, kMaxReplyPayload);
}

Request decodeRequest(const Frame& frame) {
  if (frame.type != MessageType::request)
    throw WireError("expected a request frame");
  PayloadReader in(frame.payload);
  Request request;
  request.id = frame.id;
  request.path = in.bytes();
  request.contentType = in.bytes();
  in.finish();
  if (request.path.empty() || request.path.find('\0') != std::string::npos)
    throw WireError("the request names no usable file path");
  return request;
}

Reply decodeReply(const Frame& frame) {
  if (frame.type != MessageType::reply)
    throw WireError("expected a reply frame");
  PayloadReader in(frame.payload);
  Reply reply;
  reply.id = frame.id;
  const auto status = in.integer(1);
  if (status == 1) {
    NSError error;
    error.domain = in.bytes();
    error.code = static_cast<std::int64_t>(in.integer(8));
    error.localizedDescription = in.bytes();
    reply.error = std::move(error);
  } else if (status == 0) {
    reply.title = in.bytes();
    reply.contentType = in.bytes();
    reply.width = in.real();
    reply.height = in.real();
    reply.stringEncoding = in.bytes();
    reply.data = in.bytes();
    const auto count = in.integer(4);
    // Each attachment takes at least four length fields.
    if (count > in.remaining() / 16)
      throw WireError("the reply announces more attachments than it carries");
    for (std::uint64_t i = 0; i < count; ++i) {
      ReplyAttachment a;
      a.identifier = in.bytes();
      a.typeIdentifier = in.bytes();
      a.mimeType = in.bytes();
      a.data = in.bytes();
      reply.attachments.push_back(std::move(a));
    }
  } else {
    throw WireError("unknown reply status " + std::to_string(status));
  }
  in.finish();
  return reply;
}

Frame decodeFrame(std::string_view bytes, std::uint32_t maxPayload) {
  if (bytes.size() < kHeaderSize)
    throw WireError("the frame is shorter than its header");
  Header header = parseHeader(bytes.data(), maxPayload);
  if (bytes.size() != kHeaderSize + header.length)
    throw WireError("the frame's length does not match its header");
  return {header.type, header.id, std::string(bytes.substr(kHeaderSize))};
}

std::optional<Frame> readFrame(int fd, std::uint32_t maxPayload) {
  std::string head;
  const std::size_t got = readUpTo(fd, head, kHeaderSize);
  if (got == 0)
    return std::nullopt;
  if (got < kHeaderSize)
    throw WireError("the stream ends inside a frame header");
  Header header = parseHeader(head.data(), maxPayload);
  Frame frame{header.type, header.id, {}};
  if (readUpTo(fd, frame.payload, header.length) < header.length)
    throw WireError("the stream ends inside a frame payload");
  return frame;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

} // namespace PreviewWire
