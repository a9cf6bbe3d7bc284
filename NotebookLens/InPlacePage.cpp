#include "NotebookLens/InPlacePage.h"

#include "Foundation/HugePages.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

using JSONSerialization::SourceReference;

InPlacePage::InPlacePage(std::string&& buffer, std::size_t sourceOffset,
                         std::vector<SourceReference> pending, std::size_t expectedSize)
    : buffer_(std::move(buffer)), sourceOffset_(sourceOffset), pending_(std::move(pending)),
      copied_(pending_.size(), false), expectedSize_(expectedSize) {
  const std::size_t sourceSize = buffer_.size() - std::min(sourceOffset_, buffer_.size());
  for (const SourceReference& reference : pending_)
    if (reference.offset > sourceSize || reference.length > sourceSize - reference.offset)
      throw std::logic_error("a string of the page lies outside the text it was read from");
}

std::size_t InPlacePage::guard(std::size_t skip) const {
  std::size_t i = firstPending_;
  while (i < pending_.size() && (copied_[i] || i == skip))
    ++i;
  return i < pending_.size() ? sourceOffset_ + pending_[i].offset : buffer_.size();
}

std::size_t InPlacePage::indexOf(const SourceReference& reference) const {
  auto at = std::lower_bound(
      pending_.begin(), pending_.end(), reference,
      [](const SourceReference& a, const SourceReference& b) { return a.offset < b.offset; });
  if (at == pending_.end() || !(*at == reference))
    throw std::logic_error("the page refers to a string that was not read");
  return static_cast<std::size_t>(at - pending_.begin());
}

void InPlacePage::moveOut() {
  reserveWithHugePages(page_, std::max(expectedSize_, end_ + (end_ >> 4)));
  page_.append(buffer_.data(), end_);
  moved_ = true;
}

void InPlacePage::append(std::string_view bytes) {
  if (bytes.empty()) // an empty view may carry a null pointer, which memcpy must never see
    return;
  if (moved_) {
    page_.append(bytes);
    return;
  }
  if (const std::size_t stop = guard(); end_ <= stop && bytes.size() <= stop - end_) {
    std::memcpy(buffer_.data() + end_, bytes.data(), bytes.size());
    end_ += bytes.size();
    return;
  }
  if (firstPending_ == pending_.size()) {
    // Nothing is left to read: the rest of the buffer is the page's to grow into.
    buffer_.resize(end_);
    buffer_.append(bytes);
    end_ = buffer_.size();
    return;
  }
  moveOut();
  page_.append(bytes);
}

void InPlacePage::appendStringLiteral(const SourceReference& reference) {
  const std::size_t index = indexOf(reference);
  const std::size_t start = sourceOffset_ + reference.offset;
  // A string taken twice: its bytes are still there unless the page has reached them.
  if (copied_[index] && !moved_ && start < end_)
    throw std::logic_error("the page takes a string again after overwriting it");
  copied_[index] = true; // from here on only its own unread bytes hold the page back
  while (firstPending_ < pending_.size() && copied_[firstPending_])
    ++firstPending_;

  const char* from = buffer_.data() + start;
  const char* const end = from + reference.length;
  bool opened = false;
  if (!moved_ && end_ < std::min(guard(), start)) {
    buffer_[end_++] = '"';
    opened = true;
    const auto progress = JSONSerialization::escapeForward(from, end, buffer_.data() + end_,
                                                           buffer_.data() + guard());
    from = progress.from;
    end_ = static_cast<std::size_t>(progress.to - buffer_.data());
  }
  if (from != end || !opened) {
    // No room left before bytes still to be read: the rest goes to a buffer of its own.
    if (!moved_)
      moveOut();
    if (!opened)
      page_.push_back('"');
    JSONSerialization::appendEscaped(page_, std::string_view(from, end - from));
  }
  append("\"");
}

std::string InPlacePage::finish() {
  if (moved_) {
    buffer_ = std::string();
    return std::move(page_);
  }
  buffer_.resize(end_);
  return std::move(buffer_);
}
