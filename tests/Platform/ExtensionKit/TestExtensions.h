// Paths and helpers shared by the ExtensionKit tests: the test extensions of "Sandbox Test.app",
// the sandbox launcher, scoped environment variables and scratch folders.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>

namespace TestExtensions {

inline std::filesystem::path executable(const std::string& name) {
  return std::filesystem::path(LUMIVALE_TEST_APP) / "Contents" / "PlugIns" / (name + ".appex") /
         "Contents" / "MacOS" / name;
}

inline std::filesystem::path launcher() {
  return std::filesystem::path(LUMIVALE_BINARY_DIR) / "xpcproxy";
}

// Sets (or, with nullopt, unsets) an environment variable for the scope's lifetime.
class ScopedEnvironment {
public:
  ScopedEnvironment(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name))
      old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnvironment() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
  const char* name_;
  std::optional<std::string> old_;
};

// A fresh folder under `parent`, removed with everything in it at the end of the scope.
class ScratchFolder {
public:
  explicit ScratchFolder(const std::filesystem::path& parent = "/tmp") {
    std::string pattern = (parent / "lumivale-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()))
      path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty())
      std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

private:
  std::filesystem::path path_;
};

} // namespace TestExtensions
