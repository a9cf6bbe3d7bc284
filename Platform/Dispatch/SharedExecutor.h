// SharedExecutor: the process's shared concurrent pool that asynchronous tasks run on
// (hardware concurrency threads, at least two). Lives until the process ends; thread-safe.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class SharedExecutor {
public:
  static SharedExecutor& shared();

  // Runs `task` on a pool thread as soon as one is free. Tasks must not throw.
  void enqueue(std::function<void()> task);
  std::size_t threadCount() const { return threads_.size(); }

private:
  explicit SharedExecutor(std::size_t threads);
  void run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  std::vector<std::thread> threads_;
};
