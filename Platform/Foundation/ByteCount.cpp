#include "Foundation/ByteCount.h"

#include <charconv>
#include <cmath>

std::string describeByteCount(std::uint64_t byteCount) {
  if (byteCount < 1024)
    return std::to_string(byteCount) + (byteCount == 1 ? " byte" : " bytes");
  static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  double amount = static_cast<double>(byteCount) / 1024;
  std::size_t unit = 0;
  // Rounded to one decimal first, so that 1023.97 KB reads as 1 MB and not as 1024 KB.
  while (std::round(amount * 10) / 10 >= 1024 && unit + 1 < std::size(kUnits)) {
    amount /= 1024;
    ++unit;
  }
  amount = std::round(amount * 10) / 10;
  char buffer[64];
  const bool whole = amount == std::floor(amount);
  auto result =
      whole ? std::to_chars(buffer, buffer + sizeof buffer, amount, std::chars_format::fixed, 0)
            : std::to_chars(buffer, buffer + sizeof buffer, amount, std::chars_format::fixed, 1);
  return std::string(buffer, result.ptr) + " " + kUnits[unit];
}
