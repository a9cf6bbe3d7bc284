#include "Foundation/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& path) {
  throw std::system_error(errno, std::generic_category(), what + " " + path.string());
}

} // namespace

void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode) {
  std::filesystem::path folder = path.parent_path();
  if (!folder.empty())
    std::filesystem::create_directories(folder);
  std::string temp = path.string() + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0)
    fail("cannot create a temporary file for", path);
  auto abandon = [&](const char* what) {
    int saved = errno;
    close(fd);
    unlink(temp.c_str());
    errno = saved;
    fail(what, path);
  };
  if (fchmod(fd, mode) != 0)
    abandon("cannot set the mode of");
  for (std::size_t written = 0; written < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      abandon("cannot write");
    written += static_cast<std::size_t>(n);
  }
  if (fsync(fd) != 0)
    abandon("cannot flush");
  if (close(fd) != 0) {
    int saved = errno;
    unlink(temp.c_str());
    errno = saved;
    fail("cannot close", path);
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    unlink(temp.c_str());
    errno = saved;
    fail("cannot replace", path);
  }
  // Make the rename itself durable.
  int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}
