#include "ExtensionKit/SpawnThread.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace SpawnThread {
namespace {

class Spawner {
public:
  Spawner() {
    std::thread([this] { serve(); }).detach();
  }

  int run(const std::function<int()>& spawn) {
    std::packaged_task<int()> task(spawn);
    std::future<int> result = task.get_future();
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(task));
    }
    wake_.notify_one();
    return result.get();
  }

private:
  void serve() {
    for (;;) {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return !queue_.empty(); });
      std::packaged_task<int()> task = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::packaged_task<int()>> queue_;
};

} // namespace

int run(const std::function<int()>& spawn) {
  // Never destroyed: the thread serves until the process ends. A child made by fork() has no
  // such thread (only the forking one is copied): it makes its own.
  static std::mutex guard;
  static Spawner* spawner = nullptr;
  static pid_t owner = 0;
  Spawner* current;
  {
    std::lock_guard lock(guard);
    if (!spawner || owner != ::getpid()) {
      spawner = new Spawner;
      owner = ::getpid();
    }
    current = spawner;
  }
  return current->run(spawn);
}

} // namespace SpawnThread
