#include "QuickLook/PreviewWire.h"

#include "Foundation/HugePages.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <sys/uio.h>
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

// Reads fields from a payload held in memory (a request's); every read is bounds-checked.
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

constexpr std::size_t kLengthOffset = 16; // of the payload length within the header

// The one frame-header writer, with the payload's length left at 0 until setPayloadLength.
void putHeader(std::string& out, MessageType type, std::uint64_t id) {
  putU32(out, kMagic);
  putU16(out, kVersion);
  putU16(out, static_cast<std::uint16_t>(type));
  putU64(out, id);
  putU32(out, 0);
}

// Fills in the length of a complete payload in the header at the start of `frame`.
void setPayloadLength(std::string& frame, std::size_t payload, std::uint32_t maxPayload) {
  if (payload > maxPayload)
    throw WireError("the message is too large (" + std::to_string(payload) + " bytes)");
  std::string length;
  putU32(length, static_cast<std::uint32_t>(payload));
  frame.replace(kLengthOffset, 4, length);
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
  const auto length = static_cast<std::uint32_t>(getLE(p + kLengthOffset, 4));
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

// The one frame-header reader: nullopt when the stream ends cleanly before a frame.
std::optional<Header> readHeader(int fd, std::uint32_t maxPayload) {
  std::string head;
  const std::size_t got = readUpTo(fd, head, kHeaderSize);
  if (got == 0)
    return std::nullopt;
  if (got < kHeaderSize)
    throw WireError("the stream ends inside a frame header");
  return parseHeader(head.data(), maxPayload);
}

} // namespace

Reply errorReply(std::uint64_t id, NSError error) {
  Reply reply;
  reply.id = id;
  reply.error = std::move(error);
  return reply;
}

std::string encodeRequest(const Request& request) {
  std::string out;
  putHeader(out, MessageType::request, request.id);
  putBytes(out, request.path, kMaxRequestPayload);
  setPayloadLength(out, out.size() - kHeaderSize, kMaxRequestPayload);
  return out;
}

void OutgoingFrame::appendOwned(std::string_view bytes) {
  if (!pieces_.empty() && !pieces_.back().referenced)
    pieces_.back().length += bytes.size();
  else
    pieces_.push_back({nullptr, owned_.size(), bytes.size()});
  owned_.append(bytes);
  size_ += bytes.size();
}

void OutgoingFrame::appendReferenced(std::string_view bytes) {
  pieces_.push_back({bytes.data(), 0, bytes.size()});
  size_ += bytes.size();
}

std::string OutgoingFrame::bytes() const {
  std::string out;
  out.reserve(size_);
  for (const Piece& piece : pieces_)
    out.append(piece.referenced ? piece.referenced : owned_.data() + piece.offset, piece.length);
  return out;
}

bool OutgoingFrame::writeTo(int fd) const {
  std::vector<iovec> vectors;
  vectors.reserve(pieces_.size());
  for (const Piece& piece : pieces_)
    if (piece.length > 0)
      vectors.push_back(
          {const_cast<char*>(piece.referenced ? piece.referenced : owned_.data() + piece.offset),
           piece.length});
  std::size_t next = 0;
  while (next < vectors.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(vectors.size() - next, IOV_MAX));
    ssize_t n = ::writev(fd, vectors.data() + next, count);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    // Skip what was written; a partly written piece continues where it stopped.
    auto written = static_cast<std::size_t>(n);
    while (next < vectors.size() && written >= vectors[next].iov_len)
      written -= vectors[next++].iov_len;
    if (written > 0) {
      vectors[next].iov_base = static_cast<char*>(vectors[next].iov_base) + written;
      vectors[next].iov_len -= written;
    }
  }
  return true;
}

OutgoingFrame encodeReplyFrame(const Reply& reply) {
  // Fields up to this size are copied into the frame's own buffer; larger ones are referred to.
  constexpr std::size_t kCopiedFieldSize = 4096;
  OutgoingFrame out;
  std::string small;
  auto flush = [&] {
    out.appendOwned(small);
    small.clear();
  };
  auto field = [&](std::string_view bytes) {
    if (bytes.size() > kMaxReplyPayload)
      throw WireError("a field of " + std::to_string(bytes.size()) + " bytes is too large to send");
    putU32(small, static_cast<std::uint32_t>(bytes.size()));
    if (bytes.size() <= kCopiedFieldSize) {
      small.append(bytes);
      return;
    }
    flush();
    out.appendReferenced(bytes);
  };
  // The header's length is filled in at the end, when the payload's size is known.
  putHeader(small, MessageType::reply, reply.id);
  if (reply.error) {
    small += '\1';
    field(reply.error->domain);
    putU64(small, static_cast<std::uint64_t>(reply.error->code));
    field(reply.error->localizedDescription);
  } else {
    small += '\0';
    field(reply.title);
    field(reply.contentType);
    putU64(small, std::bit_cast<std::uint64_t>(reply.width));
    putU64(small, std::bit_cast<std::uint64_t>(reply.height));
    field(reply.stringEncoding);
    field(reply.data);
    putU32(small, static_cast<std::uint32_t>(reply.attachments.size()));
    for (const ReplyAttachment& a : reply.attachments) {
      field(a.identifier);
      field(a.typeIdentifier);
      field(a.mimeType);
      field(a.data);
    }
    putU32(small, static_cast<std::uint32_t>(reply.dependencies.size()));
    for (const std::string& path : reply.dependencies)
      field(path);
  }
  flush();
  setPayloadLength(out.owned_, out.size_ - kHeaderSize, kMaxReplyPayload);
  return out;
}

Request decodeRequest(const Frame& frame) {
  if (frame.type != MessageType::request)
    throw WireError("expected a request frame");
  PayloadReader in(frame.payload);
  Request request;
  request.id = frame.id;
  request.path = in.bytes();
  in.finish();
  if (request.path.empty() || request.path.find('\0') != std::string::npos)
    throw WireError("the request names no usable file path");
  return request;
}

std::optional<Frame> readFrame(int fd, std::uint32_t maxPayload) {
  const std::optional<Header> header = readHeader(fd, maxPayload);
  if (!header)
    return std::nullopt;
  Frame frame{header->type, header->id, {}};
  if (readUpTo(fd, frame.payload, header->length) < header->length)
    throw WireError("the stream ends inside a frame payload");
  return frame;
}

namespace {

constexpr std::size_t kWholeFieldReserve = std::size_t(256) << 20;

// Reads a frame's payload from a stream field by field: small fields through a buffer, large
// ones straight into their own strings. Every length is checked against what the header says
// is left before anything is read for it.
class PayloadStream {
public:
  PayloadStream(int fd, std::uint32_t length) : fd_(fd), left_(length) {}

  std::uint64_t integer(int bytes) {
    char raw[8];
    take(raw, static_cast<std::size_t>(bytes));
    return getLE(raw, bytes);
  }
  double real() { return std::bit_cast<double>(integer(8)); }
  std::string bytes() {
    const auto length = static_cast<std::size_t>(integer(4));
    need(length);
    std::string out;
    // Up to kWholeFieldReserve the announced length is reserved at once: reserving only takes
    // address space (pages are brought in as data arrives), while growing by doubling would
    // copy the field several times over into fresh memory. Beyond it, grow with the data that
    // arrives, doubling up to the announced length.
    if (length <= kWholeFieldReserve)
      reserveWithHugePages(out, length);
    while (out.size() < length) {
      if (out.size() == out.capacity())
        reserveWithHugePages(out,
                             std::min(length, std::max<std::size_t>(2 * out.capacity(), 1u << 20)));
      const std::size_t old = out.size();
      out.resize(std::min(length, out.capacity()));
      take(out.data() + old, out.size() - old);
    }
    return out;
  }
  // A field's bytes written into a page file (see PageFile::Transfer) instead of a string:
  // what the buffer holds already, then the rest moved from the stream, or read through the
  // buffer where it cannot be moved.
  void bytesInto(const PageFile::Claim& claim) {
    const auto length = static_cast<std::size_t>(integer(4));
    need(length);
    left_ -= static_cast<std::uint32_t>(length);
    PageFile::Transfer transfer(claim);
    const std::size_t buffered = std::min(length, end_ - begin_);
    transfer.write({buffer_ + begin_, buffered});
    begin_ += buffered;
    std::size_t rest = length - buffered;
    while (rest > 0) {
      if (const std::size_t moved = transfer.moveFrom(fd_, rest)) {
        rest -= moved;
        continue;
      }
      const std::size_t got = readSome(buffer_, std::min(rest, sizeof buffer_));
      transfer.write({buffer_, got});
      rest -= got;
    }
    transfer.finish();
  }
  std::uint32_t remaining() const { return left_; }

private:
  void need(std::size_t n) const {
    if (left_ < n)
      throw WireError("the payload ends inside a field");
  }
  // Copies n payload bytes to `out`: first from the buffer, then (for large reads) directly.
  void take(char* out, std::size_t n) {
    need(n);
    left_ -= static_cast<std::uint32_t>(n);
    while (n > 0) {
      if (begin_ == end_) {
        if (n >= sizeof buffer_) {
          const std::size_t got = readSome(out, n);
          out += got;
          n -= got;
          continue;
        }
        begin_ = 0;
        end_ = readSome(buffer_, std::min<std::size_t>(sizeof buffer_, left_ + n));
      }
      const std::size_t part = std::min(n, end_ - begin_);
      std::memcpy(out, buffer_ + begin_, part);
      begin_ += part;
      out += part;
      n -= part;
    }
  }
  std::size_t readSome(char* out, std::size_t n) {
    for (;;) {
      ssize_t r = ::read(fd_, out, n);
      if (r < 0 && errno == EINTR)
        continue;
      if (r < 0)
        throw WireError(std::string("cannot read from the peer: ") + std::strerror(errno));
      if (r == 0)
        throw WireError("the stream ends inside a frame payload");
      return static_cast<std::size_t>(r);
    }
  }

  int fd_;
  std::uint32_t left_;
  char buffer_[1 << 16];
  std::size_t begin_ = 0, end_ = 0;
};

} // namespace

std::optional<Reply> readReply(int fd, std::uint32_t maxPayload) {
  return readReply(fd, maxPayload, nullptr);
}

std::optional<Reply> readReply(int fd, std::uint32_t maxPayload,
                               const PageDestination& destination) {
  const std::optional<Header> header = readHeader(fd, maxPayload);
  if (!header)
    return std::nullopt;
  if (header->type != MessageType::reply)
    throw WireError("expected a reply frame");
  // Reads never go beyond the payload's announced length, so the next frame stays unread.
  auto in = std::make_unique<PayloadStream>(fd, header->length);
  Reply reply;
  reply.id = header->id;
  const auto status = in->integer(1);
  if (status == 1) {
    NSError error;
    error.domain = in->bytes();
    error.code = static_cast<std::int64_t>(in->integer(8));
    error.localizedDescription = in->bytes();
    reply.error = std::move(error);
  } else if (status == 0) {
    reply.title = in->bytes();
    reply.contentType = in->bytes();
    reply.width = in->real();
    reply.height = in->real();
    reply.stringEncoding = in->bytes();
    if (const PageFile::Claim claim = destination ? destination(reply.id) : PageFile::Claim{})
      in->bytesInto(claim);
    else
      reply.data = in->bytes();
    const auto count = in->integer(4);
    if (count > in->remaining() / 16)
      throw WireError("the reply announces more attachments than it carries");
    for (std::uint64_t i = 0; i < count; ++i) {
      ReplyAttachment a;
      a.identifier = in->bytes();
      a.typeIdentifier = in->bytes();
      a.mimeType = in->bytes();
      a.data = in->bytes();
      reply.attachments.push_back(std::move(a));
    }
    const auto dependencies = in->integer(4);
    if (dependencies > in->remaining() / 4)
      throw WireError("the reply announces more dependencies than it carries");
    for (std::uint64_t i = 0; i < dependencies; ++i)
      reply.dependencies.push_back(in->bytes());
  } else {
    throw WireError("unknown reply status " + std::to_string(status));
  }
  if (in->remaining() != 0)
    throw WireError("the payload has " + std::to_string(in->remaining()) + " unexpected bytes");
  return reply;
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
