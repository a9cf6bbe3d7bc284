// Subprocess: runs a tool as a child process with one pipe as both its standard output and its
// standard error (the two streams interleaved as written), the way NSTask with one NSPipe does.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

struct SubprocessResult {
  // The exit status, or the number of the signal that ended the child.
  int terminationStatus = 0;
  // Everything the child wrote, up to kSubprocessOutputCap bytes (the rest is read and dropped).
  std::string output;
};

// Output beyond this many bytes is read (so the child never stalls) but not kept.
inline constexpr std::size_t kSubprocessOutputCap = 16 * 1024 * 1024;

// A child still running after this long is killed (SIGKILL), so a hung tool cannot hold its
// caller for ever; its status is then 9.
inline constexpr std::chrono::milliseconds kSubprocessTimeLimit = std::chrono::minutes(5);

// Starts `executable` (a path, not searched in PATH) with `arguments`, inheriting the
// environment, working directory and standard input; reads the pipe while the child runs and
// waits for it to end. Throws NSErrorException when the child cannot be started (missing or
// non-executable file), with the platform's text for the cause. Blocking; any thread.
SubprocessResult runSubprocess(const std::string& executable,
                               const std::vector<std::string>& arguments,
                               std::chrono::milliseconds timeLimit = kSubprocessTimeLimit);
