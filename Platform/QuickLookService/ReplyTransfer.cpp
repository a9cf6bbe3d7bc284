#include "QuickLookService/ReplyTransfer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace ReplyTransfer {

int writeToMemoryFile(const PreviewWire::Reply& reply) {
  const int fd = ::memfd_create("lumivale-preview-reply", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0)
    throw std::runtime_error(std::string("cannot create a memory file: ") + std::strerror(errno));
  const PreviewWire::OutgoingFrame frame = PreviewWire::encodeReplyFrame(reply);
  if (!frame.writeTo(fd) || ::lseek(fd, 0, SEEK_SET) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot write the reply to a memory file");
  }
  // The client reads exactly what was written: nobody can change it any more.
  ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  return fd;
}

PreviewWire::Reply readFromMemoryFile(int fd) {
  if (::lseek(fd, 0, SEEK_SET) != 0)
    throw std::runtime_error("the reply's memory file cannot be read");
  std::optional<PreviewWire::Reply> reply =
      PreviewWire::readReply(fd, PreviewWire::kMaxReplyPayload);
  if (!reply)
    throw PreviewWire::WireError("the reply's memory file is empty");
  return std::move(*reply);
}

} // namespace ReplyTransfer
