#include "Foundation/AtomicWrite.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(int error, const std::string& what, const fs::path& path) {
  throw std::system_error(error, std::generic_category(), what + " " + path.string());
}

void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return; // a folder we cannot open for reading still holds the renamed file
  ::fsync(fd);
  ::close(fd);
}

} // namespace

void writeFileAtomically(const fs::path& path, std::string_view bytes, mode_t mode) {
  const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec)
    fail(ec.value(), "cannot create the folder", folder);

  std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0)
    fail(errno, "cannot create a temporary file beside", path);
  auto abandon = [&](int error, const char* what) {
    ::close(fd);
    ::unlink(temporary.c_str());
    fail(error, what, path);
  };
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      abandon(errno, "cannot write");
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  if (::fchmod(fd, mode) != 0)
    abandon(errno, "cannot set the permissions of");
  if (::fsync(fd) != 0)
    abandon(errno, "cannot flush");
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    fail(error, "cannot write", path);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    fail(error, "cannot replace", path);
  }
  syncFolder(folder);
}

void removeFileDurably(const fs::path& path) {
  if (::unlink(path.c_str()) != 0) {
    if (errno == ENOENT)
      return;
    fail(errno, "cannot remove", path);
  }
  syncFolder(path.parent_path().empty() ? fs::path(".") : path.parent_path());
}
