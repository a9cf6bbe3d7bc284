// ReplyCache: recent successful replies, kept so that showing a document again (the arrow keys
// going back, a second key press) is immediate. An entry holds only while the document's file
// is unchanged (same device, inode, size and modification time); the cache keeps at most a
// fixed number of bytes, dropping the least recently used first. Thread-safe.
#pragma once

#include "QuickLook/PreviewWire.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct ReplyCacheKey {
  std::string path;
  std::string contentType;
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modifiedNanoseconds = 0;
  friend bool operator==(const ReplyCacheKey&, const ReplyCacheKey&) = default;

  // The key of the document as it is now; nullopt when it is not a regular file.
  static std::optional<ReplyCacheKey> of(const std::string& path, const std::string& contentType);
};

class ReplyCache {
public:
  explicit ReplyCache(std::size_t capacityBytes) : capacity_(capacityBytes) {}
  std::shared_ptr<const PreviewWire::Reply> find(const ReplyCacheKey& key);
  void insert(const ReplyCacheKey& key, std::shared_ptr<const PreviewWire::Reply> reply);
  void clear();
  std::size_t entries();

private:
  struct Entry {
    ReplyCacheKey key;
    std::shared_ptr<const PreviewWire::Reply> reply;
    std::size_t bytes;
  };
  std::mutex mutex_;
  std::list<Entry> entries_; // most recently used first
  std::size_t capacity_;
  std::size_t bytes_ = 0;
};
