#include "Dispatch/DispatchQueue.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

TEST(DispatchQueueConcurrencyTest, GlobalQueuesGrowWhileWorkBlocks) {
  // Work items that wait for each other only finish if each gets its own thread. The shared
  // state outlives the items (they may still be unlocking when the test moves on).
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    int finished = 0;
  };
  constexpr int kItems = 6;
  for (DispatchQoS qos : {DispatchQoS::utility, DispatchQoS::userInitiated}) {
    auto state = std::make_shared<State>();
    for (int i = 0; i < kItems; ++i)
      DispatchQueue::global(qos).async([state] {
        std::unique_lock lock(state->mutex);
        ++state->arrived;
        state->changed.notify_all();
        state->changed.wait_for(lock, std::chrono::seconds(10),
                                [&] { return state->arrived >= kItems; });
        ++state->finished;
        state->changed.notify_all();
      });
    std::unique_lock lock(state->mutex);
    EXPECT_TRUE(state->changed.wait_for(lock, std::chrono::seconds(10),
                                        [&] { return state->finished == kItems; }));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the pool threads park again
}

TEST(DispatchQueueConcurrencyTest, MainQueueWaitsForItsEventLoop) {
  // A scheduler that runs work on the test's thread when asked to.
  struct Recorder : MainQueueScheduler {
    std::mutex mutex;
    std::vector<std::function<void()>> work;
    std::vector<std::chrono::milliseconds> delays;
    void post(std::function<void()> w) override {
      std::lock_guard lock(mutex);
      work.push_back(std::move(w));
      delays.push_back(std::chrono::milliseconds(0));
    }
    void postAfter(std::chrono::milliseconds d, std::function<void()> w) override {
      std::lock_guard lock(mutex);
      work.push_back(std::move(w));
      delays.push_back(d);
    }
  };
  std::vector<int> order;
  DispatchQueue::main().async([&] { order.push_back(1); });
  DispatchQueue::main().asyncAfter(std::chrono::milliseconds(250), [&] { order.push_back(2); });
  auto recorder = std::make_shared<Recorder>();
  DispatchQueue::setMainQueueScheduler(recorder);
  DispatchQueue::main().async([&] { order.push_back(3); });
  DispatchQueue::setMainQueueScheduler(nullptr);
  ASSERT_EQ(recorder->work.size(), 3u);
  EXPECT_EQ(recorder->delays[1], std::chrono::milliseconds(250));
  for (auto& w : recorder->work)
    w();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}
