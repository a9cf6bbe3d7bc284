#include "Foundation/FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>

FileLock::FileLock(const std::filesystem::path& lockFile) {
  std::error_code ec;
  std::filesystem::create_directories(lockFile.parent_path(), ec);
  fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0)
    throw std::system_error(errno, std::generic_category(),
                            "cannot open the lock file " + lockFile.string());
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR)
      continue;
    const int error = errno;
    ::close(fd_);
    throw std::system_error(error, std::generic_category(), "cannot lock " + lockFile.string());
  }
}

FileLock::~FileLock() {
  ::close(fd_); // closing the descriptor releases the lock
}
