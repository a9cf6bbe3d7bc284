#include "SoftwareUpdate/SUStandardVersionComparator.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

enum class CharacterType { Number, String, Period, Punctuation, Whitespace, Dash };

CharacterType typeOf(char c) {
  if (c == '.')
    return CharacterType::Period;
  if (c == '-')
    return CharacterType::Dash;
  if (c >= '0' && c <= '9')
    return CharacterType::Number;
  if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
    return CharacterType::Whitespace;
  // Unicode punctuation among ASCII (symbols such as + $ < = > ^ ` | ~ are not punctuation).
  if (std::string_view("!\"#%&'()*,/:;?@[\\]_{}").find(c) != std::string_view::npos)
    return CharacterType::Punctuation;
  return CharacterType::String;
}

bool isSeparator(CharacterType type) {
  return type == CharacterType::Period || type == CharacterType::Punctuation ||
         type == CharacterType::Whitespace;
}

// Separators of any kind are alike; other types only match themselves.
bool sameClass(CharacterType a, CharacterType b) {
  return a == b || (isSeparator(a) && isSeparator(b));
}

// Runs of digits or of letters; every separator is a part of its own; a dash (after the first
// character) ends the version.
std::vector<std::string> split(std::string_view version) {
  std::vector<std::string> parts;
  if (version.empty())
    return parts;
  std::string current(1, version[0]);
  CharacterType previous = typeOf(version[0]);
  for (std::size_t i = 1; i < version.size(); ++i) {
    CharacterType type = typeOf(version[i]);
    if (type == CharacterType::Dash)
      break;
    if (type != previous || isSeparator(previous)) {
      parts.push_back(std::move(current));
      current.assign(1, version[i]);
    } else {
      current += version[i];
    }
    previous = type;
  }
  parts.push_back(std::move(current));
  return parts;
}

CharacterType typeOfPart(const std::string& part) {
  return typeOf(part[0]);
}

std::size_t leadingNumberAndPeriodParts(const std::vector<std::string>& parts) {
  std::size_t count = 0;
  for (const std::string& part : parts) {
    CharacterType type = typeOfPart(part);
    if (type != CharacterType::Number && type != CharacterType::Period)
      break;
    ++count;
  }
  return count;
}

// Pads the shorter leading dotted number with ".0" parts so that 1.0 and 1.0.0 compare equal.
void balance(std::vector<std::string>& a, std::vector<std::string>& b) {
  std::size_t countA = leadingNumberAndPeriodParts(a);
  std::size_t countB = leadingNumberAndPeriodParts(b);
  if (countA == countB)
    return;
  auto& shorter = countA < countB ? a : b;
  const auto& longer = countA < countB ? b : a;
  std::size_t from = std::min(countA, countB), to = std::max(countA, countB);
  for (std::size_t i = from; i < to; ++i) {
    bool period = typeOfPart(longer[i]) == CharacterType::Period;
    shorter.insert(shorter.begin() + static_cast<std::ptrdiff_t>(i), period ? "." : "0");
  }
}

// The value of a run of digits, saturating instead of overflowing.
unsigned long long numberValue(const std::string& digits) {
  unsigned long long value = 0;
  for (char c : digits) {
    unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (~0ULL - digit) / 10)
      return ~0ULL;
    value = value * 10 + digit;
  }
  return value;
}

} // namespace

int SUStandardVersionComparator::compareVersions(std::string_view versionA,
                                                 std::string_view versionB) {
  std::vector<std::string> a = split(versionA), b = split(versionB);
  balance(a, b);
  std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    CharacterType typeA = typeOfPart(a[i]), typeB = typeOfPart(b[i]);
    if (sameClass(typeA, typeB)) {
      if (typeA == CharacterType::Number) {
        unsigned long long valueA = numberValue(a[i]), valueB = numberValue(b[i]);
        if (valueA != valueB)
          return valueA < valueB ? -1 : 1;
      } else if (typeA == CharacterType::String) {
        int order = a[i].compare(b[i]);
        if (order != 0)
          return order < 0 ? -1 : 1;
      }
      continue;
    }
    // A number or separator outranks letters (1.0 > 1.0b1); a number outranks a separator.
    if (typeA != CharacterType::String && typeB == CharacterType::String)
      return 1;
    if (typeA == CharacterType::String && typeB != CharacterType::String)
      return -1;
    return typeA == CharacterType::Number ? 1 : -1;
  }
  if (a.size() == b.size())
    return 0;
  // One goes on: more letters make it older (1.0b < 1.0), more numbers newer (1.0 < 1.0.1).
  bool aLonger = a.size() > b.size();
  const std::string& extra = aLonger ? a[common] : b[common];
  bool longerIsNewer = typeOfPart(extra) != CharacterType::String;
  return (aLonger == longerIsNewer) ? 1 : -1;
}
