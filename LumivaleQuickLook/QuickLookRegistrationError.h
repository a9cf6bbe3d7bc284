// QuickLookRegistrationError: a registration tool that ended with a non-zero status, with the
// command line and everything the tool printed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct QuickLookRegistrationError {
  // The tool's path and its arguments joined with single blanks (no quoting).
  std::string command;
  std::int32_t status = 0;
  // Standard output and standard error as one text.
  std::string output;

  // "<command> exited with status <status>." or, when the output holds more than white
  // space, "<command> exited with status <status>: <output without surrounding white space>".
  std::string localizedDescription() const;
};

// `text` without white space or line breaks at either end.
std::string_view trimmingWhitespaceAndNewlines(std::string_view text);
