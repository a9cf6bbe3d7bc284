#include "QuickLook/PageFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace PreviewWire {

PageFile::PageFile(int fd) : fd_(fd) {}

PageFile::~PageFile() {
  if (fd_ >= 0)
    ::close(fd_);
}

PageFile::Claim PageFile::claim(const std::shared_ptr<PageFile>& file) {
  return {file, ++file->claims_};
}

std::optional<std::uint64_t> PageFile::receivedSize() const {
  std::lock_guard lock(outcome_);
  return received_;
}

std::string PageFile::failure() const {
  std::lock_guard lock(outcome_);
  return failure_;
}

PageFile::Transfer::Transfer(const Claim& claim)
    : file_(*claim.file), number_(claim.number), turn_(file_.turn_),
      writing_(number_ == file_.claims_) {
  if (!writing_)
    return;
  std::lock_guard lock(file_.outcome_);
  file_.received_.reset();
  file_.failure_.clear();
}

void PageFile::Transfer::fail(const std::string& why) {
  writing_ = false;
  std::lock_guard lock(file_.outcome_);
  if (number_ == file_.claims_)
    file_.failure_ = why;
}

void PageFile::Transfer::write(std::string_view bytes) {
  while (writing_ && !bytes.empty()) {
    const ssize_t n = ::pwrite(file_.fd_, bytes.data(), bytes.size(), offset_);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      fail(std::string("cannot write the page: ") +
           (n < 0 ? std::strerror(errno) : "the file takes no more bytes"));
      return;
    }
    offset_ += n;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::size_t PageFile::Transfer::moveFrom(int from, std::size_t length) {
  while (writing_ && splicing_ && length > 0) {
    const ssize_t n = ::splice(from, nullptr, file_.fd_, &offset_, length, SPLICE_F_MOVE);
    if (n > 0)
      return static_cast<std::size_t>(n); // splice advanced offset_
    if (n < 0 && errno == EINTR)
      continue;
    // The end of the stream, or no splicing here (a failed splice consumes nothing): the caller
    // reads the rest itself.
    splicing_ = false;
  }
  return 0;
}

void PageFile::Transfer::finish() {
  if (!writing_)
    return;
  // An earlier, longer answer may have left bytes behind.
  if (::ftruncate(file_.fd_, offset_) != 0) {
    fail(std::string("cannot write the page: ") + std::strerror(errno));
    return;
  }
  std::lock_guard lock(file_.outcome_);
  if (number_ == file_.claims_)
    file_.received_ = static_cast<std::uint64_t>(offset_);
}

} // namespace PreviewWire
