#include "PlugInKit/RegistryFile.h"

#include "Foundation/AtomicWrite.h"
#include "Foundation/FileRead.h"
#include "Foundation/JSONSerialization.h"
#include "Foundation/NSError.h"
#include "Foundation/UTF8.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;
namespace json = boost::json;

namespace {

// The file's bytes, or nullopt when it does not exist.
std::optional<std::string> readIfPresent(const fs::path& file) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(file, ec)))
    return std::nullopt;
  // A FIFO or device in a registry file's place would block or flood the read: it is not a
  // registry file, so it reads as nothing (damaged) and is moved aside.
  if (!fs::is_regular_file(fs::status(file, ec)))
    return std::string();
  try {
    return readData(URL::fileURLWithPath(file.string()));
  } catch (const NSErrorException& e) {
    if (e.error().code == NSCocoaErrorCode::kFileReadNoSuchFile)
      return std::nullopt;
    throw std::system_error(EIO, std::generic_category(), e.what());
  }
}

// Empty when `bytes` decode; otherwise what is wrong with them.
std::string decodeProblem(const std::string& bytes,
                          const std::function<void(const json::object&)>& decode) {
  try {
    const json::value value = JSONSerialization::parse(bytes);
    const json::object* object = value.if_object();
    if (!object)
      return "it does not hold a JSON object";
    const json::value* format = object->if_contains("format");
    if (!format || !format->is_int64() || format->as_int64() != RegistryFile::kFormat)
      return "it has no \"format\" of " + std::to_string(RegistryFile::kFormat);
    decode(*object);
    return {};
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string utcStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
  return text;
}

fs::path setAside(const fs::path& file) {
  const std::string base = file.string() + ".damaged-" + utcStamp();
  for (int attempt = 0;; ++attempt) {
    const fs::path target =
        attempt == 0 ? fs::path(base) : fs::path(base + "-" + std::to_string(attempt));
    std::error_code ec;
    if (fs::exists(fs::symlink_status(target, ec)))
      continue;
    fs::rename(file, target, ec);
    if (ec)
      throw std::system_error(ec, "cannot move the damaged file " + file.string() + " aside");
    return target;
  }
}

} // namespace

void RegistryFile::load(const RegistryLocation& location, const fs::path& file,
                        std::string_view description, bool lockHeld,
                        std::vector<std::string>& warnings,
                        const std::function<void(const json::object&)>& decode) {
  std::optional<std::string> bytes = readIfPresent(file);
  if (!bytes)
    return;
  std::string problem = decodeProblem(*bytes, decode);
  if (problem.empty())
    return;

  // Another process may be replacing the file right now: decide under the lock, on a fresh read.
  std::optional<RegistryLock> lock;
  if (!lockHeld) {
    lock.emplace(location);
    bytes = readIfPresent(file);
    if (!bytes)
      return;
    problem = decodeProblem(*bytes, decode);
    if (problem.empty())
      return;
  }
  const fs::path aside = setAside(file);
  warnings.push_back("The " + std::string(description) + " " + file.string() + " is damaged (" +
                     problem + "); it was kept as " + aside.string() +
                     " and a new one is started.");
}

void RegistryFile::save(const fs::path& file, json::object members) {
  json::object document;
  document["format"] = kFormat;
  for (auto& member : members)
    document[member.key()] = std::move(member.value());
  writeFileAtomically(file, JSONSerialization::write(document) + "\n");
}

std::string RegistryFile::encodePath(const fs::path& path) {
  static const char* const hex = "0123456789ABCDEF";
  const std::string& bytes = path.native();
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::string_view rest(bytes.data() + i, bytes.size() - i);
    const std::size_t valid = firstInvalidUTF8Offset(rest);
    for (std::size_t k = 0; k < valid; ++k) {
      if (rest[k] == '%')
        out += "%25";
      else
        out += rest[k];
    }
    i += valid;
    if (i < bytes.size()) {
      const unsigned char byte = static_cast<unsigned char>(bytes[i++]);
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 15];
    }
  }
  return out;
}

fs::path RegistryFile::decodePath(std::string_view text) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9')
      return c - '0';
    if (c >= 'A' && c <= 'F')
      return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
      return c - 'a' + 10;
    return -1;
  };
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size() || digit(text[i + 1]) < 0 || digit(text[i + 2]) < 0)
        throw std::runtime_error("a stored path has a broken %-escape");
      bytes += static_cast<char>(digit(text[i + 1]) * 16 + digit(text[i + 2]));
      i += 2;
    } else {
      bytes += text[i];
    }
  }
  return fs::path(bytes);
}

std::string RegistryFile::stringMember(const json::object& object, std::string_view key) {
  const json::value* value = object.if_contains(key);
  if (!value || !value->is_string())
    throw std::runtime_error("a record lacks the text \"" + std::string(key) + "\"");
  return std::string(value->as_string());
}

std::vector<std::string> RegistryFile::stringsMember(const json::object& object,
                                                     std::string_view key) {
  const json::value* value = object.if_contains(key);
  if (!value || !value->is_array())
    throw std::runtime_error("a record lacks the list \"" + std::string(key) + "\"");
  std::vector<std::string> out;
  for (const json::value& item : value->as_array()) {
    if (!item.is_string())
      throw std::runtime_error("the list \"" + std::string(key) + "\" holds a non-text");
    out.emplace_back(item.as_string());
  }
  return out;
}
