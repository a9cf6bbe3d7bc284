#include "Foundation/FileRead.h"

#include "Foundation/HugePages.h"
#include "Foundation/NSError.h"
#include "Foundation/UTF8.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void throwReadError(const URL& url, int err) {
  const std::string name = "\u201C" + url.lastPathComponent() + "\u201D";
  switch (err) {
  case ENOENT:
  case ENOTDIR:
    throw NSErrorException(
        {NSErrorDomain::kCocoa, NSCocoaErrorCode::kFileReadNoSuchFile,
         "The file " + name + " couldn\u2019t be opened because there is no such file."});
  case EACCES:
  case EPERM:
    throw NSErrorException(
        {NSErrorDomain::kCocoa, NSCocoaErrorCode::kFileReadNoPermission,
         "The file " + name +
             " couldn\u2019t be opened because you don\u2019t have permission to view it."});
  case EISDIR:
    throw NSErrorException(
        {NSErrorDomain::kCocoa, NSCocoaErrorCode::kFileReadUnknown,
         "The file " + name + " couldn\u2019t be opened because it is a folder."});
  case ENODEV:
    throw NSErrorException(
        {NSErrorDomain::kCocoa, NSCocoaErrorCode::kFileReadUnknown,
         "The file " + name + " couldn\u2019t be opened because it is not a regular file."});
  default:
    throw NSErrorException({NSErrorDomain::kCocoa, NSCocoaErrorCode::kFileReadUnknown,
                            "The file " + name + " couldn\u2019t be opened."});
  }
}

} // namespace

std::string readData(const URL& url) {
  return readData(url, 0);
}

std::string readData(const URL& url, std::size_t spareCapacity) {
  // A NUL byte would cut the path short at the system call and name another file.
  if (url.path().find('\0') != std::string::npos)
    throwReadError(url, ENOENT);
  int fd = ::open(url.path().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throwReadError(url, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    throwReadError(url, err);
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    throwReadError(url, EISDIR);
  }
  std::string data;
  // One byte beyond the size the file has now, so that reaching its end takes no second buffer.
  const size_t expected =
      S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 0;
  if (expected > 0 || spareCapacity > 0)
    reserveWithHugePages(data, expected + spareCapacity);
  char buffer[1 << 16];
  for (;;) {
    // Regular files are read straight into the reserved string (never into the spare room,
    // which stays untouched).
    if (data.capacity() - data.size() >= sizeof buffer) {
      size_t old = data.size();
      data.resize(std::min(data.capacity(), std::max(expected, old + sizeof buffer)));
      ssize_t got = ::read(fd, data.data() + old, data.size() - old);
      if (got < 0 && errno == EINTR) {
        data.resize(old);
        continue;
      }
      if (got < 0) {
        int err = errno;
        ::close(fd);
        throwReadError(url, err);
      }
      data.resize(old + static_cast<size_t>(got));
      if (got == 0)
        break;
      continue;
    }
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      int err = errno;
      ::close(fd);
      throwReadError(url, err);
    }
    if (got == 0)
      break;
    data.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return data;
}

std::string readUTF8Text(const URL& url) {
  std::string data = readData(url);
  if (!isValidUTF8(data))
    throw NSErrorException(
        {NSErrorDomain::kCocoa, NSCocoaErrorCode::kFileReadInapplicableStringEncoding,
         "The file \u201C" + url.lastPathComponent() +
             "\u201D couldn\u2019t be opened using text encoding Unicode (UTF-8)."});
  return data;
}

FilePrefix readFilePrefix(const URL& url, std::size_t limit, bool readLargerFiles,
                          std::size_t spareCapacity, std::size_t leadingRoom) {
  if (url.path().find('\0') != std::string::npos)
    throwReadError(url, ENOENT);
  // Refuse anything but a regular file before opening it (opening a device can have effects),
  // then again on the open descriptor in case the path changed in between. O_NONBLOCK keeps a
  // FIFO swapped in meanwhile from blocking the open.
  struct stat st {};
  if (::stat(url.path().c_str(), &st) != 0)
    throwReadError(url, errno);
  if (!S_ISREG(st.st_mode))
    throwReadError(url, S_ISDIR(st.st_mode) ? EISDIR : ENODEV);
  const int fd = ::open(url.path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    throwReadError(url, errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::fstat(fd, &st) != 0)
    throwReadError(url, errno);
  if (!S_ISREG(st.st_mode))
    throwReadError(url, S_ISDIR(st.st_mode) ? EISDIR : ENODEV);

  FilePrefix prefix;
  prefix.fileSize = static_cast<std::uint64_t>(st.st_size);
  if (!readLargerFiles && prefix.fileSize > limit) {
    prefix.complete = false;
    return prefix;
  }
  // One byte beyond the limit tells whether there is more (the file may have grown).
  const std::size_t wanted = limit + 1;
  const std::size_t expected = static_cast<std::size_t>(
      std::min<std::uint64_t>(prefix.fileSize, static_cast<std::uint64_t>(wanted)));
  // Read straight into the string: the size reported plus one byte to see whether that was all,
  // growing further only with data that actually arrives (files under /proc report no size).
  std::string& data = prefix.data;
  reserveWithHugePages(data, leadingRoom + std::min(wanted, expected + 1) + spareCapacity);
  data.resize(leadingRoom);
  std::size_t used = 0; // bytes of the file read
  while (used < wanted) {
    if (leadingRoom + used == data.size()) {
      const std::size_t next = used < expected    ? expected
                               : used == expected ? used + 1
                                                  : used + std::max<std::size_t>(used, 1 << 16);
      data.resize(leadingRoom + std::min(wanted, next));
    }
    const ssize_t got =
        ::read(fd, data.data() + leadingRoom + used, data.size() - leadingRoom - used);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      throwReadError(url, errno);
    if (got == 0)
      break;
    used += static_cast<std::size_t>(got);
  }
  data.resize(leadingRoom + used);
  if (used > limit) {
    prefix.data.resize(leadingRoom + limit);
    prefix.complete = false;
    prefix.fileSize = std::max<std::uint64_t>(prefix.fileSize, limit + 1);
  }
  return prefix;
}
