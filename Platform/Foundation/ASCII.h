// ASCII: character classes and case mapping of the ASCII letters and digits only, whatever the
// process's locale says. Identifiers, file extensions, type names, MIME types and fence labels
// are compared through these (a Turkish locale must not turn "GIF" into "gıf"; <cctype> follows
// the locale, which a GUI toolkit sets from the environment). Pure functions.
#pragma once

#include <string>
#include <string_view>

namespace ASCII {

constexpr bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
constexpr bool isLower(char c) {
  return c >= 'a' && c <= 'z';
}
constexpr bool isUpper(char c) {
  return c >= 'A' && c <= 'Z';
}
constexpr bool isAlpha(char c) {
  return isLower(c) || isUpper(c);
}
constexpr bool isAlnum(char c) {
  return isAlpha(c) || isDigit(c);
}

// The letter in lower (upper) case; every other byte unchanged.
constexpr char toLower(char c) {
  return isUpper(c) ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char toUpper(char c) {
  return isLower(c) ? static_cast<char>(c - 'a' + 'A') : c;
}

// The text with its ASCII letters in lower case; other bytes (UTF-8 included) unchanged.
inline std::string lowercased(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = toLower(c);
  return out;
}

// Equal when the ASCII letters are compared without regard to case.
constexpr bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (toLower(a[i]) != toLower(b[i]))
      return false;
  return true;
}

// True when `text` begins with `prefix`, the ASCII letters compared without regard to case.
constexpr bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

} // namespace ASCII
