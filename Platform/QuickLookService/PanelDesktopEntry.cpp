#include "QuickLookService/PanelDesktopEntry.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace PanelDesktopEntry {
namespace {

// An Exec argument: quoted, with the characters the desktop entry format reserves escaped
// (and "%" doubled, as field codes begin with it).
std::string execArgument(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\')
      out += "\\\\"; // the string value's escape, then the quoting's
    if (c == '%')
      out += '%';
    out += c;
  }
  return out + "\"";
}

bool isMIMEType(const std::string& type) {
  return !type.empty() && type.find('/') != std::string::npos &&
         type.find_first_of(";\n\r \t") == std::string::npos;
}

} // namespace

std::string text(const fs::path& qlmanage, const std::vector<std::string>& mimeTypes) {
  const std::string path = fs::absolute(qlmanage).lexically_normal().string();
  if (path.find_first_of("\n\r") != std::string::npos)
    throw std::runtime_error("the path of qlmanage cannot be written in a desktop entry");
  std::string types;
  for (const std::string& type : mimeTypes)
    if (isMIMEType(type))
      types += type + ";";
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Quick Look\n"
         "Comment=Preview Markdown documents, diagrams and notebooks\n"
         "Exec=" +
         execArgument(path) +
         " -p %F\n"
         "MimeType=" +
         types +
         "\n"
         "NoDisplay=true\n"
         "Terminal=false\n"
         "Categories=Office;Viewer;\n";
}

fs::path install(const fs::path& dataHome, const fs::path& qlmanage,
                 const std::vector<std::string>& mimeTypes) {
  const std::string contents = text(qlmanage, mimeTypes);
  const fs::path target = dataHome / "applications" / kFileName;
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  std::string temporary = target.string() + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0)
    throw std::runtime_error("cannot write " + target.string() + ": " + std::strerror(errno));
  const bool written =
      ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size()) &&
      ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    throw std::runtime_error("cannot write " + target.string());
  }
  return target;
}

} // namespace PanelDesktopEntry
