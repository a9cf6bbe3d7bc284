#include "Foundation/NSError.h"
#include "Foundation/NSLog.h"
#include "Foundation/Subprocess.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

TEST(SubprocessTest, BothStreamsInOnePipeInTheOrderWritten) {
  SubprocessResult result =
      runSubprocess("/bin/sh", {"-c", "echo one; echo two >&2; echo three; exit 7"});
  EXPECT_EQ(result.terminationStatus, 7);
  EXPECT_EQ(result.output, "one\ntwo\nthree\n");
}

TEST(SubprocessTest, ArgumentsArePassedAsTheyAre) {
  SubprocessResult result = runSubprocess("/bin/echo", {"a b", "$HOME", "%s", ""});
  EXPECT_EQ(result.output, "a b $HOME %s \n");
}

TEST(SubprocessTest, LargeOutputNeverStallsAndIsCapped) {
  SubprocessResult result =
      runSubprocess("/bin/sh", {"-c", "head -c 20000000 /dev/zero; echo done >&2"});
  EXPECT_EQ(result.terminationStatus, 0);
  EXPECT_EQ(result.output.size(), kSubprocessOutputCap);
}

TEST(SubprocessTest, SignalEndsWithItsNumber) {
  EXPECT_EQ(runSubprocess("/bin/sh", {"-c", "kill -9 $$"}).terminationStatus, 9);
}

TEST(SubprocessTest, ADescendantHoldingThePipeDoesNotHoldTheCaller) {
  const auto start = std::chrono::steady_clock::now();
  SubprocessResult result = runSubprocess("/bin/sh", {"-c", "sleep 30 & echo started"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(result.output, "started\n");
}

TEST(SubprocessTest, AHungToolIsKilledAtItsTimeLimit) {
  const auto start = std::chrono::steady_clock::now();
  SubprocessResult result = runSubprocess("/bin/sh", {"-c", "echo waiting; exec sleep 30"},
                                          std::chrono::milliseconds(300));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(result.terminationStatus, 9);
  EXPECT_EQ(result.output, "waiting\n");
}

TEST(SubprocessTest, ToolsThatCannotStart) {
  try {
    runSubprocess("/nonexistent/lsregister", {});
    FAIL();
  } catch (const NSErrorException& error) {
    EXPECT_EQ(error.error().localizedDescription,
              "The file \u201clsregister\u201d doesn\u2019t exist.");
  }
  const std::string plain = std::filesystem::temp_directory_path() /
                            ("lumivale-not-executable-" + std::to_string(::getpid()));
  std::ofstream(plain) << "#!/bin/sh\necho hi\n";
  std::filesystem::permissions(plain, std::filesystem::perms::owner_read |
                                          std::filesystem::perms::owner_write);
  try {
    runSubprocess(plain, {});
    FAIL();
  } catch (const NSErrorException& error) {
    EXPECT_NE(error.error().localizedDescription.find("permission"), std::string::npos);
  }
  std::ofstream(plain, std::ios::trunc) << "\x7f"
                                           "garbage";
  std::filesystem::permissions(plain, std::filesystem::perms::owner_all);
  try {
    runSubprocess(plain, {});
    FAIL();
  } catch (const NSErrorException& error) {
    EXPECT_NE(error.error().localizedDescription.find("couldn\u2019t be started"),
              std::string::npos);
  }
  std::filesystem::remove(plain);
}

TEST(NSLogTest, OneLiteralLineWithDateTimeProcessAndThread) {
  const std::string line = formatLogLine("100% %s %n done");
  EXPECT_TRUE(std::regex_match(
      line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \S+\[\d+:\d+\] 100% %s %n done)")))
      << line;
  testing::internal::CaptureStderr();
  NSLog("hello %d");
  const std::string written = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(written.ends_with("] hello %d\n")) << written;
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1);
}
