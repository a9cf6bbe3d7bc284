#include "QuickLookRegistrationError.h"

namespace {

// The length of the white-space character `text` ends (atEnd) or begins with, or 0. ASCII
// white space and line breaks, and the Unicode line and paragraph separators, next line and
// no-break space that the platform's set holds as well.
std::size_t whitespaceLength(std::string_view text, bool atEnd) {
  static constexpr std::string_view kMultiByte[] = {"\xC2\x85", "\xC2\xA0", "\xE2\x80\xA8",
                                                    "\xE2\x80\xA9", "\xE3\x80\x80"};
  if (text.empty())
    return 0;
  const char c = atEnd ? text.back() : text.front();
  if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
    return 1;
  for (std::string_view space : kMultiByte)
    if (atEnd ? text.ends_with(space) : text.starts_with(space))
      return space.size();
  return 0;
}

} // namespace

std::string_view trimmingWhitespaceAndNewlines(std::string_view text) {
  while (std::size_t n = whitespaceLength(text, false))
    text.remove_prefix(n);
  while (std::size_t n = whitespaceLength(text, true))
    text.remove_suffix(n);
  return text;
}

std::string QuickLookRegistrationError::localizedDescription() const {
  const std::string_view trimmed = trimmingWhitespaceAndNewlines(output);
  std::string text = command + " exited with status " + std::to_string(status);
  if (trimmed.empty())
    return text + ".";
  text += ": ";
  text += trimmed;
  return text;
}
