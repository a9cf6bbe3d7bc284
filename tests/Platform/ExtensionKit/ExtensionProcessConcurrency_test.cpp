// Many clients of one ExtensionProcess at once while its processes crash and hang: every
// request gets exactly one reply, and the clients, the reader, writer and watchdog threads do
// not race (run under ThreadSanitizer as well).
#include "ExtensionKit/ExtensionProcess.h"
#include "ExtensionKit/ExtensionSandbox.h"
#include "TestExtensions.h"

#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(ExtensionProcessConcurrencyTest, ManyClientsWhileProcessesCrashAndHang) {
  std::optional<TestExtensions::ScopedEnvironment> allow;
  if (ExtensionSandbox::landlockABI() < 1)
    allow.emplace(ExtensionSandbox::kAllowUnsandboxedVariable, "1");
  TestExtensions::ScratchFolder folder;
  for (const char* name : {"a.txt", "crash.txt", "hang.txt"})
    std::ofstream(folder.path() / name) << "text\n";

  ExtensionProcess::Options options;
  options.launcher = TestExtensions::launcher();
  options.timeout = 1s;
  ExtensionProcess process("FaultLens", TestExtensions::executable("FaultLens"), options);

  constexpr int kClients = 4, kRequestsEach = 25;
  std::atomic<int> answered = 0, ended = 0, timedOut = 0;
  std::vector<std::thread> clients;
  for (int client = 0; client < kClients; ++client)
    clients.emplace_back([&, client] {
      for (int i = 0; i < kRequestsEach; ++i) {
        const char* name = i % 10 == 3 && client == 0   ? "crash.txt"
                           : i % 12 == 5 && client == 1 ? "hang.txt"
                                                        : "a.txt";
        PreviewWire::Reply reply = process.request((folder.path() / name).string()).get();
        if (!reply.error)
          ++answered;
        else if (reply.error->code == ExtensionProcess::kExtensionEnded)
          ++ended;
        else if (reply.error->code == ExtensionProcess::kTimedOut)
          ++timedOut;
        else
          ADD_FAILURE() << reply.error->localizedDescription;
      }
    });
  for (std::thread& client : clients)
    client.join();

  EXPECT_EQ(answered + ended + timedOut, kClients * kRequestsEach);
  // A hung request times out, unless a crash in its process failed it first.
  EXPECT_LE(timedOut, 2);
  EXPECT_GE(ended, 3) << "each crash fails at least its own request";
  EXPECT_GE(answered, kClients * kRequestsEach - 30);
  // Three processes crashed one after the other, and the last request after them had its own.
  EXPECT_GE(process.launches(), 4u);
}
