// IdleTimeout: how the per-user services (the preview server, the panel agent) read the idle
// time after which they leave, given in seconds on their command line or in the environment.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// The seconds in `text`: a number above 0 and at most a day; nullopt for anything else.
inline std::optional<double> parseIdleSeconds(const std::string& text) {
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end || !(seconds > 0) || seconds > 86400)
    return std::nullopt;
  return seconds;
}
