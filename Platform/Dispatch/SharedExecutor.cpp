#include "Dispatch/SharedExecutor.h"

#include <algorithm>

SharedExecutor& SharedExecutor::shared() {
  // Never destroyed: pool threads may still be parked when the process exits.
  static SharedExecutor* executor =
      new SharedExecutor(std::max(2u, std::thread::hardware_concurrency()));
  return *executor;
}

SharedExecutor::SharedExecutor(std::size_t threads) {
  threads_.reserve(threads);
  for (std::size_t i = 0; i < threads; ++i)
    threads_.emplace_back([this] { run(); });
  for (std::thread& thread : threads_)
    thread.detach();
}

void SharedExecutor::enqueue(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void SharedExecutor::run() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return !queue_.empty(); });
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
  }
}
