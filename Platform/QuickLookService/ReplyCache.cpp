#include "QuickLookService/ReplyCache.h"

#include <sys/stat.h>

namespace {

std::size_t sizeOf(const PreviewWire::Reply& reply) {
  std::size_t bytes = reply.data.size() + reply.title.size() + 256;
  for (const auto& attachment : reply.attachments)
    bytes += attachment.data.size() + attachment.identifier.size() + 64;
  return bytes;
}

std::int64_t nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace

FileState FileState::of(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return {path};
  return {path,
          true,
          static_cast<std::uint64_t>(info.st_dev),
          static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::uint64_t>(info.st_size),
          nanoseconds(info.st_mtim),
          nanoseconds(info.st_ctim)};
}

std::optional<ReplyCacheKey> ReplyCacheKey::of(const std::string& path,
                                               const std::string& contentType) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return std::nullopt;
  return ReplyCacheKey{path,
                       contentType,
                       static_cast<std::uint64_t>(info.st_dev),
                       static_cast<std::uint64_t>(info.st_ino),
                       static_cast<std::uint64_t>(info.st_size),
                       nanoseconds(info.st_mtim),
                       nanoseconds(info.st_ctim)};
}

std::shared_ptr<const PreviewWire::Reply> ReplyCache::find(const ReplyCacheKey& key) {
  std::lock_guard lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end(); ++it)
    if (it->key == key) {
      for (const FileState& dependency : it->dependencies)
        if (FileState::of(dependency.path) != dependency) {
          bytes_ -= it->bytes;
          entries_.erase(it);
          return nullptr;
        }
      entries_.splice(entries_.begin(), entries_, it);
      return it->reply;
    }
  return nullptr;
}

void ReplyCache::insert(const ReplyCacheKey& key, std::shared_ptr<const PreviewWire::Reply> reply,
                        std::int64_t madeSinceNanoseconds) {
  const std::size_t bytes = sizeOf(*reply);
  std::vector<FileState> dependencies;
  for (const std::string& path : reply->dependencies) {
    dependencies.push_back(FileState::of(path));
    if (dependencies.back().changedNanoseconds >= madeSinceNanoseconds && madeSinceNanoseconds > 0)
      return;
  }
  std::lock_guard lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end(); ++it)
    if (it->key.path == key.path && it->key.contentType == key.contentType) {
      bytes_ -= it->bytes;
      entries_.erase(it);
      break;
    }
  if (bytes > capacity_)
    return;
  entries_.push_front({key, std::move(reply), std::move(dependencies), bytes});
  bytes_ += bytes;
  while (bytes_ > capacity_) {
    bytes_ -= entries_.back().bytes;
    entries_.pop_back();
  }
}

void ReplyCache::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  bytes_ = 0;
}

std::size_t ReplyCache::entries() {
  std::lock_guard lock(mutex_);
  return entries_.size();
}
