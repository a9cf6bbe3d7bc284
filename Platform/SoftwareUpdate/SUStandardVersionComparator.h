// SUStandardVersionComparator: orders version strings the way release numbers are read: split
// into runs of digits, letters and separators; "1.0" equals "1.0.0", "1.0a1" < "1.0b1" < "1.0",
// "1.0b9" < "1.0b10"; anything after a dash is ignored.
#pragma once

#include <string_view>

namespace SUStandardVersionComparator {
// Negative when a is older than b, zero when they are the same release, positive when newer.
int compareVersions(std::string_view a, std::string_view b);
} // namespace SUStandardVersionComparator
