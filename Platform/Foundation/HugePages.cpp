#include "Foundation/HugePages.h"

#include <cstdint>
#include <sys/mman.h>

namespace {
constexpr std::uintptr_t kHugePageSize = std::uintptr_t(2) << 20;
}

void adviseHugePages(void* data, std::size_t size) {
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + kHugePageSize - 1) & ~(kHugePageSize - 1);
  const std::uintptr_t last = (start + size) & ~(kHugePageSize - 1);
  if (last > first)
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void reserveWithHugePages(std::string& text, std::size_t capacity) {
  if (capacity <= text.capacity())
    return;
  text.reserve(capacity);
  adviseHugePages(text.data() + text.size(), text.capacity() - text.size());
}
