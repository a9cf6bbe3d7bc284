// PreviewWire: the framing between the preview service and an extension process. Each message
// is one frame: a fixed 20-byte header (magic "LQLW", version, type, request id, payload
// length; little endian) and a payload of length-prefixed fields. Binary-safe; every length is
// checked against its bound before anything is allocated for it. Each layout has one writer and
// one reader, which the service, the extensions and the tests all use:
//   request: encodeRequest -> readFrame + decodeRequest (the extension side)
//   reply:   encodeReplyFrame -> readReply (the service side)
#pragma once

#include "Foundation/NSError.h"
#include "QuickLook/PageFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace PreviewWire {

inline constexpr std::uint32_t kMagic = 0x574C514C; // "LQLW" read as little endian
inline constexpr std::uint16_t kVersion = 3;
inline constexpr std::size_t kHeaderSize = 20;
// A request names a file; a reply carries a page and its attachments.
inline constexpr std::uint32_t kMaxRequestPayload = 64 * 1024;
inline constexpr std::uint32_t kMaxReplyPayload = 1u << 30;

enum class MessageType : std::uint16_t { request = 1, reply = 2 };

// A frame that cannot be read: bad magic or version, a length beyond its bound, a payload
// whose fields do not add up, or a stream that ends inside a frame.
class WireError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct Frame {
  MessageType type = MessageType::request;
  std::uint64_t id = 0;
  std::string payload;
};

// A request names the document; the extension works out the rest from the file itself.
struct Request {
  std::uint64_t id = 0;
  std::string path; // absolute path of the document
  friend bool operator==(const Request&, const Request&) = default;
};

struct ReplyAttachment {
  std::string identifier;
  std::string typeIdentifier;
  std::string mimeType;
  std::string data;
  friend bool operator==(const ReplyAttachment&, const ReplyAttachment&) = default;
};

// Either an error, or a page with its properties and attachments.
struct Reply {
  std::uint64_t id = 0;
  std::optional<NSError> error;
  std::string title;
  std::string contentType;
  double width = 0, height = 0;
  std::string stringEncoding; // IANA name ("utf-8"), or empty
  std::string data;
  std::vector<ReplyAttachment> attachments;
  std::vector<std::string> dependencies; // see QLPreviewReply::dependencies
  friend bool operator==(const Reply&, const Reply&) = default;
};

// A reply that carries only an error.
Reply errorReply(std::uint64_t id, NSError error);

// A frame ready to be sent: its small fields copied into one buffer, its large ones (the page,
// attachment data) referred to in place, so that sending a reply never copies the page. It
// refers to the reply it was made from, which must outlive it and stay unchanged.
class OutgoingFrame {
public:
  std::size_t size() const { return size_; }
  // The whole frame as one byte string.
  std::string bytes() const;
  // Writes the whole frame (gathered writes, retrying on EINTR and short writes); false when
  // the peer is gone.
  bool writeTo(int fd) const;

private:
  friend OutgoingFrame encodeReplyFrame(const Reply& reply);
  void appendOwned(std::string_view bytes);
  void appendReferenced(std::string_view bytes);

  struct Piece {
    const char* referenced; // null: `offset` is into owned_
    std::size_t offset;
    std::size_t length;
  };
  std::string owned_;
  std::vector<Piece> pieces_;
  std::size_t size_ = 0;
};

// The request's frame. Throws WireError when it does not fit kMaxRequestPayload.
std::string encodeRequest(const Request& request);
// The reply's frame. Throws WireError when it does not fit kMaxReplyPayload.
OutgoingFrame encodeReplyFrame(const Reply& reply);

// The request a request frame carries; WireError for another frame type or a payload whose
// fields do not add up or name no usable path.
Request decodeRequest(const Frame& frame);

// Reads one frame from `fd`. nullopt when the stream ends cleanly between frames; WireError for
// a malformed frame or one cut short; retries on EINTR. The payload buffer grows with the data
// that actually arrives, so a header that lies about its length cannot make it allocate.
std::optional<Frame> readFrame(int fd, std::uint32_t maxPayload);

// Reads one reply frame from `fd` straight into the reply's fields, so that a large page is
// not held twice (as frame payload and as field). nullopt at a clean end of stream; WireError
// as readFrame, and for a payload whose fields do not add up. Each field's buffer grows with
// the data that actually arrives.
std::optional<Reply> readReply(int fd, std::uint32_t maxPayload);

// Where the page of the reply with a given id goes instead of the reply's data: a claim on a
// page file, or no claim (the page stays in the reply).
using PageDestination = std::function<PageFile::Claim(std::uint64_t id)>;

// readReply, with the page of a reply for which `destination` gives a claim written into that
// page file as it arrives (moved from a pipe inside the kernel) and the reply's data left empty.
// A page that cannot be written is recorded as the page file's failure; the frame is still read
// to its end, so the stream stays usable.
std::optional<Reply> readReply(int fd, std::uint32_t maxPayload,
                               const PageDestination& destination);

// Writes all bytes (retrying on EINTR and short writes); false when the peer is gone.
bool writeAll(int fd, std::string_view bytes);

} // namespace PreviewWire
