#include "Dispatch/DispatchQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The main queue: hands work to the installed scheduler, or keeps it until one is installed.
class MainQueue final : public DispatchQueue {
public:
  void async(std::function<void()> work) override {
    std::shared_ptr<MainQueueScheduler> scheduler;
    {
      std::lock_guard lock(mutex_);
      if (!scheduler_) {
        pending_.push_back({std::chrono::milliseconds(0), std::move(work)});
        return;
      }
      scheduler = scheduler_;
    }
    scheduler->post(std::move(work));
  }

  void asyncAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
    std::shared_ptr<MainQueueScheduler> scheduler;
    {
      std::lock_guard lock(mutex_);
      if (!scheduler_) {
        pending_.push_back({delay, std::move(work)});
        return;
      }
      scheduler = scheduler_;
    }
    scheduler->postAfter(delay, std::move(work));
  }

  void install(std::shared_ptr<MainQueueScheduler> scheduler) {
    // Handed over under the lock, so that nothing submitted later overtakes what waited.
    std::lock_guard lock(mutex_);
    scheduler_ = std::move(scheduler);
    if (!scheduler_)
      return;
    for (Pending& item : pending_) {
      if (item.delay.count() > 0)
        scheduler_->postAfter(item.delay, std::move(item.work));
      else
        scheduler_->post(std::move(item.work));
    }
    pending_.clear();
  }

private:
  struct Pending {
    std::chrono::milliseconds delay;
    std::function<void()> work;
  };
  std::mutex mutex_;
  std::shared_ptr<MainQueueScheduler> scheduler_;
  std::vector<Pending> pending_;
};

// A global concurrent queue: a pool that starts another thread whenever work arrives and no
// thread is idle (up to a bound), so that work items blocked on child processes never starve
// the others. Threads of a lower quality of service run at a higher nice value.
class GlobalQueue final : public DispatchQueue {
public:
  explicit GlobalQueue(int niceIncrement) : niceIncrement_(niceIncrement) {}

  void async(std::function<void()> work) override {
    std::unique_lock lock(mutex_);
    queue_.push_back(std::move(work));
    if (static_cast<std::size_t>(idle_) < queue_.size() && threads_ < kMaxThreads) {
      // Each waiting item gets a thread; a starting thread counts as idle, so no second one
      // is started for the same item.
      ++threads_;
      ++idle_;
      std::thread([this] { run(); }).detach();
    } else {
      wake_.notify_one();
    }
  }

  void asyncAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
    async([delay, work = std::move(work)]() mutable {
      std::this_thread::sleep_for(delay);
      work();
    });
  }

private:
  static constexpr int kMaxThreads = 64;

  void run() {
    if (niceIncrement_ > 0)
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), niceIncrement_);
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !queue_.empty(); });
      --idle_;
      std::function<void()> work = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      work();
      work = nullptr;
      lock.lock();
      ++idle_;
    }
  }

  const int niceIncrement_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  int threads_ = 0;
  int idle_ = 0;
};

MainQueue& mainQueue() {
  // Never destroyed: work may still be submitted while the process exits.
  static MainQueue* queue = new MainQueue;
  return *queue;
}

} // namespace

DispatchQueue& DispatchQueue::main() {
  return mainQueue();
}

DispatchQueue& DispatchQueue::global(DispatchQoS qos) {
  static GlobalQueue* userInitiated = new GlobalQueue(0);
  static GlobalQueue* utility = new GlobalQueue(4);
  return qos == DispatchQoS::userInitiated ? *userInitiated : *utility;
}

void DispatchQueue::setMainQueueScheduler(std::shared_ptr<MainQueueScheduler> scheduler) {
  mainQueue().install(std::move(scheduler));
}
