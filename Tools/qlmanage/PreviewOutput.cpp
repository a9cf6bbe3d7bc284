#include "PreviewOutput.h"

#include "Foundation/ASCII.h"
#include "QuickLook/AttachmentMIMEType.h"

#include <algorithm>
#include <boost/json.hpp>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
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

// Where the resolver goes: just after the opening <head ...> tag; failing that, after a
// leading doctype; failing that, at the very start. Tags are matched without regard to case.
std::size_t insertionPoint(std::string_view page) {
  for (std::size_t at = page.find('<'); at != std::string_view::npos; at = page.find('<', at + 1)) {
    if (!ASCII::startsWithIgnoringCase(page.substr(at), "<head"))
      continue;
    const char next = at + 5 < page.size() ? page[at + 5] : '\0';
    if (next == '>' || next == ' ' || next == '\t' || next == '\n' || next == '\r') {
      const std::size_t close = page.find('>', at);
      if (close != std::string_view::npos)
        return close + 1;
      break; // no tag closes after this one either
    }
  }
  if (ASCII::startsWithIgnoringCase(page, "<!doctype")) {
    const std::size_t close = page.find('>');
    if (close != std::string_view::npos)
      return close + 1;
  }
  return 0;
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

fs::path writePreviewFolder(const fs::path& outputDirectory, const std::string& fileName,
                            const PreviewWire::Reply& reply) {
  for (const auto& attachment : reply.attachments)
    if (!isPlainFileName(attachment.identifier))
      throw std::runtime_error("The preview names an attachment that cannot be stored: \"" +
                               attachment.identifier + "\".");
  const fs::path target = outputDirectory / (fileName + ".qlpreview");
  std::string pattern = (outputDirectory / ("." + fileName + ".qlpreview-XXXXXX")).string();
  if (!::mkdtemp(pattern.data()))
    throw std::runtime_error("cannot create a folder in " + outputDirectory.string() + ": " +
                             std::strerror(errno));
  const fs::path staging = pattern;
  try {
    writeFile(staging / "Preview.html", reply.data);
    writeFile(staging / "PreviewProperties.json", propertiesJSON(reply));
    for (const auto& attachment : reply.attachments)
      writeFile(staging / attachment.identifier, attachment.data);
    // The standalone page is written in three parts rather than assembled as a second copy.
    const std::string_view page = reply.data;
    const std::size_t at = insertionPoint(page);
    writeFile(staging / "Standalone.html",
              {page.substr(0, at), resolverScript(reply), page.substr(at)});
    fs::permissions(staging, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    // Replace an earlier preview of the same name: move it aside, move the new one in.
    std::error_code ec;
    fs::path old;
    if (fs::exists(fs::symlink_status(target))) {
      old = staging.string() + ".old";
      fs::rename(target, old);
    }
    fs::rename(staging, target);
    if (!old.empty())
      fs::remove_all(old, ec);
  } catch (const std::exception& e) {
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    throw std::runtime_error(std::string("cannot write the preview: ") + e.what());
  }
  return target;
}

} // namespace PreviewOutput
