// FileLock: an exclusive advisory lock (flock) on a lock file, held for the object's lifetime.
// It serialises read-modify-write cycles between processes; a lock file is never replaced, so
// every process locks the same inode. Not for use between threads of one process.
#pragma once

#include <filesystem>

class FileLock {
public:
  // Creates the lock file (and its folder) when missing and waits until the lock is ours.
  // Throws std::system_error naming the file when it cannot be opened or locked.
  explicit FileLock(const std::filesystem::path& lockFile);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

private:
  int fd_ = -1;
};
