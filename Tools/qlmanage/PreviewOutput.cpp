#include "PreviewOutput.h"

#include "Foundation/ASCII.h"
#include "QuickLook/AttachmentMIMEType.h"

#include <algorithm>
#include <boost/json.hpp>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace PreviewOutput {
namespace {

const char* const kReservedNames[] = {"Preview.html", "PreviewProperties.json", "Standalone.html"};

bool isPlainFileName(const std::string& name) {
  if (name.empty() || name.size() > 255 || name == "." || name == ".." ||
      name.find_first_of(std::string("/\0", 2)) != std::string::npos)
    return false;
  return std::none_of(std::begin(kReservedNames), std::end(kReservedNames),
                      [&](const char* reserved) { return name == reserved; });
}

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size())
      v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// A JSON string literal that is also safe inside a script element ("<" escaped).
std::string scriptSafeLiteral(std::string_view text) {
  std::string json = boost::json::serialize(boost::json::value(boost::json::string_view(text)));
  std::string out;
  out.reserve(json.size());
  for (char c : json) {
    if (c == '<')
      out += "\\u003c";
    else
      out += c;
  }
  return out;
}

// The insertion point in `text`, which is the whole page or (`whole` false) only its start:
// nullopt when the bytes after that start could still change the answer.
std::optional<std::size_t> insertionPointIn(std::string_view text, bool whole) {
  for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
    if (!ASCII::startsWithIgnoringCase(text.substr(at), "<head"))
      continue;
    if (at + 5 >= text.size() && !whole)
      return std::nullopt;
    const char next = at + 5 < text.size() ? text[at + 5] : '\0';
    if (next == '>' || next == ' ' || next == '\t' || next == '\n' || next == '\r') {
      const std::size_t close = text.find('>', at);
      if (close != std::string_view::npos)
        return close + 1;
      if (!whole)
        return std::nullopt;
      break; // no tag closes after this one either
    }
  }
  // A <head> tag may still follow.
  if (!whole)
    return std::nullopt;
  if (ASCII::startsWithIgnoringCase(text, "<!doctype")) {
    const std::size_t close = text.find('>');
    if (close != std::string_view::npos)
      return close + 1;
  }
  return 0;
}

[[noreturn]] void throwWriteError(const fs::path& path, int error) {
  throw std::runtime_error("cannot write " + path.string() + " (" + std::strerror(error) + ")");
}

// Writes all of `bytes` at `offset` of `fd`.
void writeAt(int fd, std::string_view bytes, off_t offset, const fs::path& path) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      throwWriteError(path, n < 0 ? errno : ENOSPC);
    bytes.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
}

// Reads `length` bytes at `offset` of the page file (which must hold them).
std::string readAt(int fd, off_t offset, std::size_t length, const fs::path& path) {
  std::string bytes(length, '\0');
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n =
        ::pread(fd, bytes.data() + got, length - got, offset + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      throw std::runtime_error("cannot read " + path.string() +
                               (n < 0 ? std::string(" (") + std::strerror(errno) + ")"
                                      : std::string(" (it is shorter than its page)")));
    got += static_cast<std::size_t>(n);
  }
  return bytes;
}

// The insertion point of a page held in a file: its start decides it for every page with a
// <head> tag near the top; others are read whole.
std::size_t insertionPointInFile(int fd, std::uint64_t size, const fs::path& path) {
  constexpr std::size_t kStart = 64 * 1024;
  const bool whole = size <= kStart;
  const std::string start = readAt(fd, 0, whole ? static_cast<std::size_t>(size) : kStart, path);
  if (std::optional<std::size_t> at = insertionPointIn(start, whole))
    return *at;
  return insertionPoint(readAt(fd, 0, static_cast<std::size_t>(size), path));
}

// Copies `length` bytes at `from`'s `fromOffset` to `to` at `toOffset`: inside the kernel where
// the file systems allow it, else through a buffer.
void copyRange(int from, off_t fromOffset, int to, off_t toOffset, std::uint64_t length,
               const fs::path& fromPath, const fs::path& toPath) {
  bool inKernel = true;
  std::string buffer;
  while (length > 0) {
    if (inKernel) {
      const ssize_t n =
          ::copy_file_range(from, &fromOffset, to, &toOffset, static_cast<std::size_t>(length), 0);
      if (n > 0) {
        length -= static_cast<std::uint64_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR)
        continue;
      if (n == 0)
        throw std::runtime_error("cannot read " + fromPath.string() +
                                 " (it is shorter than its page)");
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
          errno != EBADF)
        throwWriteError(toPath, errno);
      inKernel = false; // nothing was copied: go on through the buffer
    }
    const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length, 1u << 20));
    buffer = readAt(from, fromOffset, chunk, fromPath);
    writeAt(to, buffer, toOffset, toPath);
    fromOffset += static_cast<off_t>(chunk);
    toOffset += static_cast<off_t>(chunk);
    length -= chunk;
  }
}

// Writes `parts` one after the other as the file's bytes.
void writeFile(const fs::path& path, std::initializer_list<std::string_view> parts) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0)
    throw std::runtime_error("cannot write " + path.string());
  bool ok = true;
  for (std::string_view part : parts) {
    while (ok && !part.empty()) {
      const ssize_t n = ::write(fd, part.data(), part.size());
      if (n < 0 && errno == EINTR)
        continue;
      ok = n > 0;
      if (ok)
        part.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  if (::close(fd) != 0)
    ok = false;
  if (!ok)
    throw std::runtime_error("cannot write " + path.string());
}

void writeFile(const fs::path& path, std::string_view bytes) {
  writeFile(path, {bytes});
}

// The resolver script (with a repeated charset declaration) that goes into the page.
std::string resolverScript(const PreviewWire::Reply& reply) {
  // The page's own charset declaration may now lie beyond the first 1024 bytes, where browsers
  // look for it; repeat it ahead of the script.
  std::string script = reply.stringEncoding == "utf-8" ? "<meta charset=\"utf-8\">" : "";
  script += "<script>(()=>{const attachments={";
  bool first = true;
  for (const auto& attachment : reply.attachments) {
    if (!first)
      script += ',';
    first = false;
    script += scriptSafeLiteral(attachment.identifier);
    script += ':';
    // A MIME type (token characters and "/") and base64 need no escaping in a JSON string.
    script += "\"data:";
    script += mimeTypeOf(attachment);
    script += ";base64,";
    script += base64(attachment.data);
    script += '"';
  }
  script += "};globalThis.lumivaleResolveAttachment=(id)=>"
            "Object.prototype.hasOwnProperty.call(attachments,id)?attachments[id]:null;})();"
            "</script>";
  return script;
}

// Whole numbers are written as integers (1024, not 1.024E3).
boost::json::value number(double v) {
  if (v == static_cast<double>(static_cast<std::int64_t>(v)) && v > -1e15 && v < 1e15)
    return static_cast<std::int64_t>(v);
  return v;
}

// Removes a preview folder that was replaced. Freeing a page's memory on a memory file system
// takes about as long as writing it: the two pages are freed side by side.
// (Through the folder's own descriptor: what was there may have been a link to a folder
// elsewhere, whose files are not ours to remove.)
void removeReplaced(const fs::path& old) {
  const int folder = ::open(old.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder >= 0) {
    std::thread standalone([folder] { ::unlinkat(folder, "Standalone.html", 0); });
    ::unlinkat(folder, "Preview.html", 0);
    standalone.join();
    ::close(folder);
  }
  std::error_code ignored;
  fs::remove_all(old, ignored);
}

} // namespace

std::string mimeTypeOf(const PreviewWire::ReplyAttachment& attachment) {
  return attachmentMIMEType(attachment);
}

std::string propertiesJSON(const PreviewWire::Reply& reply) {
  boost::json::object attachments;
  for (const auto& attachment : reply.attachments)
    attachments[attachment.identifier] = {{"contentType", attachment.typeIdentifier},
                                          {"mimeType", mimeTypeOf(attachment)}};
  boost::json::object properties{
      {"title", reply.title},
      {"contentType", reply.contentType},
      {"contentSize", boost::json::array{number(reply.width), number(reply.height)}},
      {"stringEncoding", reply.stringEncoding},
      {"attachments", std::move(attachments)}};
  return boost::json::serialize(properties) + "\n";
}

std::size_t insertionPoint(std::string_view page) {
  return *insertionPointIn(page, true);
}

PreviewFolder::PreviewFolder(const fs::path& outputDirectory, const std::string& fileName)
    : target_(outputDirectory / (fileName + ".qlpreview")) {
  std::string pattern = (outputDirectory / ("." + fileName + ".qlpreview-XXXXXX")).string();
  if (!::mkdtemp(pattern.data()))
    throw std::runtime_error("cannot create a folder in " + outputDirectory.string() + ": " +
                             std::strerror(errno));
  staging_ = pattern;
}

PreviewFolder::~PreviewFolder() {
  pageFile_.reset();
  if (!staging_.empty()) {
    std::error_code ignored;
    fs::remove_all(staging_, ignored);
  }
}

std::shared_ptr<PreviewWire::PageFile> PreviewFolder::pageFile() {
  if (!pageFile_) {
    const fs::path path = staging_ / "Preview.html";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
      throw std::runtime_error("cannot write the preview: cannot create " + path.string() + " (" +
                               std::strerror(errno) + ")");
    pageFile_ = std::make_shared<PreviewWire::PageFile>(fd);
  }
  return pageFile_;
}

void PreviewFolder::writeFolder(const PreviewWire::Reply& reply) {
  const fs::path pagePath = staging_ / "Preview.html";
  const std::optional<std::uint64_t> pageInFile =
      pageFile_ ? pageFile_->receivedSize() : std::nullopt;
  if (pageFile_ && !pageInFile && !pageFile_->failure().empty())
    throw std::runtime_error(pageFile_->failure());
  if (!pageInFile)
    writeFile(pagePath, reply.data);
  writeFile(staging_ / "PreviewProperties.json", propertiesJSON(reply));
  for (const auto& attachment : reply.attachments)
    writeFile(staging_ / attachment.identifier, attachment.data);

  const fs::path standalonePath = staging_ / "Standalone.html";
  // Without attachments there is nothing for a resolver to resolve, so the standalone page is
  // the page itself: a second name for Preview.html, and the page's bytes are written once.
  // Where the file system has no hard links, it is written out as for any other reply.
  if (reply.attachments.empty() && ::link(pagePath.c_str(), standalonePath.c_str()) == 0)
    return;
  const std::string script = resolverScript(reply);
  if (!pageInFile) {
    // The standalone page is written in three parts rather than assembled as a second copy.
    const std::string_view page = reply.data;
    const std::size_t at = insertionPoint(page);
    writeFile(standalonePath, {page.substr(0, at), script, page.substr(at)});
    return;
  }
  // The page is in Preview.html: its two parts are copied from there, the script written
  // between them.
  const int page = pageFile_->fd();
  const std::uint64_t size = *pageInFile;
  const std::size_t at = insertionPointInFile(page, size, pagePath);
  const int fd = ::open(standalonePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0)
    throwWriteError(standalonePath, errno);
  struct Closer {
    int fd;
    ~Closer() {
      if (fd >= 0)
        ::close(fd);
    }
  } closer{fd};
  copyRange(page, 0, fd, 0, at, pagePath, standalonePath);
  writeAt(fd, script, static_cast<off_t>(at), standalonePath);
  copyRange(page, static_cast<off_t>(at), fd, static_cast<off_t>(at + script.size()), size - at,
            pagePath, standalonePath);
  closer.fd = -1;
  if (::close(fd) != 0)
    throwWriteError(standalonePath, errno);
}

fs::path PreviewFolder::finish(const PreviewWire::Reply& reply) {
  for (const auto& attachment : reply.attachments)
    if (!isPlainFileName(attachment.identifier))
      throw std::runtime_error("The preview names an attachment that cannot be stored: \"" +
                               attachment.identifier + "\".");
  try {
    writeFolder(reply);
    fs::permissions(staging_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    // Replace an earlier preview of the same name: move it aside, move the new one in.
    fs::path old;
    if (fs::exists(fs::symlink_status(target_))) {
      old = staging_.string() + ".old";
      fs::rename(target_, old);
    }
    fs::rename(staging_, target_);
    staging_.clear();
    if (!old.empty())
      removeReplaced(old);
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("cannot write the preview: ") + e.what());
  }
  return target_;
}

fs::path writePreviewFolder(const fs::path& outputDirectory, const std::string& fileName,
                            const PreviewWire::Reply& reply) {
  PreviewFolder folder(outputDirectory, fileName);
  return folder.finish(reply);
}

} // namespace PreviewOutput
