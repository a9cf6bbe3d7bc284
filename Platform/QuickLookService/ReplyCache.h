// ReplyCache: recent successful replies, kept so that showing a document again (the arrow keys
// going back, a second key press) is immediate. An entry holds only while the document's file
// and every file the reply was made from (its dependencies: images beside a Markdown document,
// found or not) are unchanged (same existence, device, inode, size, modification and change
// time); the cache keeps at most a fixed number of bytes, dropping the least recently used
// first. Thread-safe.
#pragma once

#include "QuickLook/PreviewWire.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What a file is now, as far as telling a change goes.
struct FileState {
  std::string path;
  bool exists = false;
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modifiedNanoseconds = 0, changedNanoseconds = 0;
  friend bool operator==(const FileState&, const FileState&) = default;

  static FileState of(const std::string& path);
};

struct ReplyCacheKey {
  std::string path;
  std::string contentType;
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modifiedNanoseconds = 0, changedNanoseconds = 0;
  friend bool operator==(const ReplyCacheKey&, const ReplyCacheKey&) = default;

  // The key of the document as it is now; nullopt when it is not a regular file.
  static std::optional<ReplyCacheKey> of(const std::string& path, const std::string& contentType);
};

class ReplyCache {
public:
  explicit ReplyCache(std::size_t capacityBytes) : capacity_(capacityBytes) {}
  // The entry for `key`, if there is one and none of its reply's dependencies changed since it
  // was inserted (an entry found stale is dropped).
  std::shared_ptr<const PreviewWire::Reply> find(const ReplyCacheKey& key);
  // Keeps `reply` for `key`, with the state of its dependencies now. `madeSinceNanoseconds`
  // (real time): when the reply's making began; a reply with a dependency changed since then
  // may have been made from either version, and is not kept.
  void insert(const ReplyCacheKey& key, std::shared_ptr<const PreviewWire::Reply> reply,
              std::int64_t madeSinceNanoseconds = 0);
  void clear();
  std::size_t entries();

private:
  struct Entry {
    ReplyCacheKey key;
    std::shared_ptr<const PreviewWire::Reply> reply;
    std::vector<FileState> dependencies;
    std::size_t bytes;
  };
  std::mutex mutex_;
  std::list<Entry> entries_; // most recently used first
  std::size_t capacity_;
  std::size_t bytes_ = 0;
};
