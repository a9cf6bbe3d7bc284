// ScopedLocale: switches the process's C locale (as a GUI toolkit does from the environment) for
// one test and restores it afterwards. Turkish is the usual trap for case-insensitive matching:
// its "I" does not lower-case to "i".
#pragma once

#include <clocale>
#include <string>

class ScopedLocale {
public:
  explicit ScopedLocale(const char* name) : previous_(std::setlocale(LC_ALL, nullptr)) {
    active_ = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~ScopedLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

  // False when the machine does not have the locale (scripts/setup.sh generates tr_TR.UTF-8).
  bool active() const { return active_; }

private:
  std::string previous_;
  bool active_ = false;
};

inline constexpr const char* kTurkishLocale = "tr_TR.UTF-8";
