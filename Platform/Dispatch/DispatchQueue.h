// DispatchQueue: the main queue (work items run one at a time on the thread that runs the
// application's event loop) and the global concurrent queues by quality of service (work items
// run at once on a pool that grows while its threads are blocked, as they are while a tool
// runs). Thread-safe.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

enum class DispatchQoS { userInitiated, utility };

// How the main queue reaches the event loop. The application framework installs one when its
// event loop exists; both members may be called from any thread.
class MainQueueScheduler {
public:
  virtual ~MainQueueScheduler() = default;
  virtual void post(std::function<void()> work) = 0;
  virtual void postAfter(std::chrono::milliseconds delay, std::function<void()> work) = 0;
};

class DispatchQueue {
public:
  virtual ~DispatchQueue() = default;

  static DispatchQueue& main();
  static DispatchQueue& global(DispatchQoS qos);

  // Work items must not throw.
  virtual void async(std::function<void()> work) = 0;
  // Runs `work` no sooner than `delay` from now.
  virtual void asyncAfter(std::chrono::milliseconds delay, std::function<void()> work) = 0;

  // Installs the event loop's scheduler (null removes it). Items submitted to the main queue
  // while none is installed wait and are handed over when one is.
  static void setMainQueueScheduler(std::shared_ptr<MainQueueScheduler> scheduler);
};
