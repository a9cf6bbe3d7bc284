#include "Foundation/NSLog.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <unistd.h>

std::string formatLogLine(std::string_view message) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis));
  std::string line = stamp;
  line += program_invocation_short_name;
  line += '[' + std::to_string(::getpid()) + ':' + std::to_string(::gettid()) + "] ";
  line += message;
  return line;
}

void NSLog(std::string_view message) {
  std::string line = formatLogLine(message);
  line += '\n';
  // One write per line so that lines from several threads never interleave.
  const char* data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t written = ::write(STDERR_FILENO, data, left);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}
