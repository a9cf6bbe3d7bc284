// NSUserDefaults: the application's persistent preferences, one XML property list per
// application. Every write replaces the file atomically; a damaged file is kept aside under a
// new name, never overwritten. All members may be called from any thread.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

class NSUserDefaults {
public:
  // The defaults of the running application: $XDG_CONFIG_HOME/lumivale/<bundle identifier>.plist
  // ($XDG_CONFIG_HOME defaults to ~/.config).
  static NSUserDefaults& standardUserDefaults();

  // Defaults stored in `plist` (read now; the file need not exist yet).
  explicit NSUserDefaults(std::filesystem::path plist);
  ~NSUserDefaults();
  NSUserDefaults(const NSUserDefaults&) = delete;
  NSUserDefaults& operator=(const NSUserDefaults&) = delete;

  bool boolForKey(std::string_view) const;
  void setBool(bool, std::string_view key);
  std::optional<std::string> stringForKey(std::string_view) const;
  void setString(std::string_view value, std::string_view key);
  std::optional<double> doubleForKey(std::string_view) const;
  void setDouble(double, std::string_view key);
  void removeObjectForKey(std::string_view);

  const std::filesystem::path& path() const { return path_; }

private:
  // The value under `key` (a libplist node owned by root_), or null. Needs mutex_.
  void* find(std::string_view key) const;
  // Replaces the value under `key` by `node` (taken over; null removes it) and saves.
  void set(std::string_view key, void* node);
  void load();
  void save() const;

  std::filesystem::path path_;
  mutable std::mutex mutex_;
  // The whole property list as a libplist dictionary, so that values of any type written by
  // other tools survive our writes.
  void* root_ = nullptr;
  // False when a damaged file could not be moved aside: it is then never written over.
  bool writable_ = true;
};
