#include "PreviewCore/InlineLocalAssets.h"

#include "Foundation/ASCII.h"
#include "Foundation/NSError.h"
#include "Foundation/UTF8.h"
#include "PreviewCore/ImageReferenceScanner.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unistd.h>
#include <unordered_map>

namespace InlineLocalAssets {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Decodes "%XX" escapes; nullopt for a malformed escape or bytes that are not UTF-8.
std::optional<std::string> percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size())
      return std::nullopt;
    int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
    if (high < 0 || low < 0)
      return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (!isValidUTF8(out))
    return std::nullopt;
  return out;
}

bool isNumber(UChar32 c) {
  return (U_GET_GC_MASK(c) & U_GC_N_MASK) != 0;
}

std::string replacement(std::string_view text, const ImageReference& ref,
                        const std::string& identifier) {
  std::string out = "![";
  out.append(text.substr(ref.altStart, ref.altEnd - ref.altStart));
  out += "](cid:";
  out += identifier;
  out.append(text.substr(ref.titleStart, ref.titleEnd - ref.titleStart));
  out += ')';
  return out;
}

[[noreturn]] void refuse(const URL& url, std::int64_t code, const std::string& why) {
  throw NSErrorException({NSErrorDomain::kCocoa, code,
                          "The file \u201C" + url.lastPathComponent() +
                              "\u201D couldn\u2019t be opened because " + why + "."});
}

} // namespace

bool hasURLScheme(std::string_view destination) {
  const std::size_t colon = destination.find(':');
  if (colon == std::string_view::npos || colon == 0)
    return false;
  const std::string_view scheme = destination.substr(0, colon);
  const auto* bytes = reinterpret_cast<const uint8_t*>(scheme.data());
  const int32_t length = static_cast<int32_t>(scheme.size());
  int32_t i = 0;
  bool first = true;
  while (i < length) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0)
      return false;
    if (first) {
      if (!u_isalpha(c))
        return false;
      first = false;
    } else if (!u_isalpha(c) && !isNumber(c) && c != '+' && c != '.' && c != '-') {
      return false;
    }
  }
  return true;
}

std::optional<URL> resolveLocalImageURL(std::string_view destination, const URL& baseDirectory) {
  if (destination.empty() || destination.front() == '#' || destination.front() == '/' ||
      hasURLScheme(destination))
    return std::nullopt;
  std::string path = percentDecoded(destination).value_or(std::string(destination));
  return URL::fileURLWithPath(path, baseDirectory).standardized();
}

std::string rewriteImageReferences(std::string_view text, const URL& baseDirectory,
                                   const Reader& reader, std::int64_t perImageByteCap,
                                   std::int64_t cumulativeByteCap, AttachmentMap& attachments,
                                   std::uint64_t& counter) {
  std::string out;
  out.reserve(text.size());
  std::unordered_map<std::string, std::string> identifiers; // destination -> identifier
  std::int64_t total = 0;
  std::size_t cursor = 0;
  forEachImageReference(text, [&](const ImageReference& ref) {
    out.append(text.substr(cursor, ref.start - cursor));
    cursor = ref.end;
    const std::string destination(
        text.substr(ref.destinationStart, ref.destinationEnd - ref.destinationStart));
    if (auto known = identifiers.find(destination); known != identifiers.end()) {
      out += replacement(text, ref, known->second);
      return;
    }
    const std::string_view unchanged = text.substr(ref.start, ref.end - ref.start);
    std::optional<URL> url = resolveLocalImageURL(destination, baseDirectory);
    if (!url) {
      out.append(unchanged);
      return;
    }
    std::string bytes;
    try {
      bytes = reader(*url);
    } catch (...) {
      out.append(unchanged); // an unreadable image stays as written
      return;
    }
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (size > perImageByteCap || cumulativeByteCap < 0 || size > cumulativeByteCap - total) {
      out.append(unchanged);
      return;
    }
    std::string identifier = std::string(kIdentifierPrefix) + std::to_string(counter++);
    attachments[identifier] = Attachment{std::move(bytes), ASCII::lowercased(url->pathExtension())};
    total += size;
    out += replacement(text, ref, identifier);
    identifiers.emplace(destination, std::move(identifier));
  });
  out.append(text.substr(cursor));
  return out;
}

MarkdownResult rewriteMarkdownImages(std::string_view markdown, const URL& baseDirectory,
                                     const Reader& reader, std::int64_t perImageByteCap,
                                     std::int64_t cumulativeByteCap) {
  MarkdownResult result;
  std::uint64_t counter = 0;
  result.markdown = rewriteImageReferences(markdown, baseDirectory, reader, perImageByteCap,
                                           cumulativeByteCap, result.attachments, counter);
  return result;
}

Reader boundedFileReader(std::int64_t perImageByteCap) {
  return [perImageByteCap](const URL& url) -> std::string {
    if (perImageByteCap < 0)
      refuse(url, NSCocoaErrorCode::kFileReadUnknown, "it is larger than allowed");
    // A decoded "%00" would cut the path short at the system call and read another file.
    if (url.path().find('\0') != std::string::npos)
      refuse(url, NSCocoaErrorCode::kFileReadNoSuchFile, "there is no such file");
    // Refuse anything but a regular file before opening it (opening a device can have effects),
    // then check again on the open descriptor in case the path changed in between. O_NONBLOCK
    // keeps a FIFO swapped in meanwhile from blocking the open.
    struct stat info {};
    if (::stat(url.path().c_str(), &info) != 0)
      refuse(url,
             errno == ENOENT || errno == ENOTDIR ? NSCocoaErrorCode::kFileReadNoSuchFile
                                                 : NSCocoaErrorCode::kFileReadUnknown,
             errno == ENOENT || errno == ENOTDIR ? "there is no such file" : "it cannot be read");
    if (!S_ISREG(info.st_mode))
      refuse(url, NSCocoaErrorCode::kFileReadUnknown, "it is not a regular file");
    const int fd = ::open(url.path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      refuse(url,
             errno == EACCES || errno == EPERM ? NSCocoaErrorCode::kFileReadNoPermission
                                               : NSCocoaErrorCode::kFileReadUnknown,
             errno == EACCES || errno == EPERM ? "you don\u2019t have permission to view it"
                                               : "it cannot be read");
    struct Closer {
      int fd;
      ~Closer() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
      refuse(url, NSCocoaErrorCode::kFileReadUnknown, "it is not a regular file");

    // One byte beyond the cap is enough to tell that a file is too large.
    const std::uint64_t limit = static_cast<std::uint64_t>(perImageByteCap) + 1;
    std::string data;
    const std::uint64_t expected = static_cast<std::uint64_t>(info.st_size) + 1;
    data.resize(static_cast<std::size_t>(std::min<std::uint64_t>({limit, expected, 1u << 26})));
    std::size_t used = 0;
    while (used < limit) {
      if (used == data.size())
        data.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(limit, data.size() * 2 + 4096)));
      ssize_t got = ::read(fd, data.data() + used, data.size() - used);
      if (got < 0 && errno == EINTR)
        continue;
      if (got < 0)
        refuse(url, NSCocoaErrorCode::kFileReadUnknown, "it cannot be read");
      if (got == 0)
        break;
      used += static_cast<std::size_t>(got);
    }
    data.resize(used);
    return data;
  };
}

} // namespace InlineLocalAssets
