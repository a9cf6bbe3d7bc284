#include "Foundation/ProcessInfo.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace ProcessInfo {

std::optional<std::string> environmentValue(const std::string& name) {
  if (const char* value = std::getenv(name.c_str()))
    return std::string(value);
  return std::nullopt;
}

const std::vector<std::string>& arguments() {
  static const std::vector<std::string> args = [] {
    std::vector<std::string> result;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t start = 0;
    while (start < bytes.size()) {
      std::size_t end = bytes.find('\0', start);
      if (end == std::string::npos)
        end = bytes.size();
      result.emplace_back(bytes, start, end - start);
      start = end + 1;
    }
    return result;
  }();
  return args;
}

bool wasStartedAsLoginItem() {
  const std::vector<std::string>& args = arguments();
  return args.size() >= 2 && args[1] == kLoginItemLaunchArgument;
}

std::string executablePath() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

} // namespace ProcessInfo
