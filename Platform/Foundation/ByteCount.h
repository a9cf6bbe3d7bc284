// Byte counts as people read them in messages and notices: "812 bytes", "16 MB", "1.5 GB"
// (binary units, at most one decimal, a full stop as the decimal mark whatever the locale).
#pragma once

#include <cstdint>
#include <string>

std::string describeByteCount(std::uint64_t byteCount);
