// Transparent huge pages for large buffers that are about to be written for the first time: the
// kernel then faults them in 2 MiB at a time instead of 4 KiB, which for a 100 MB notebook or
// page saves tens of thousands of page faults. Advice only: harmless where it is not honoured.
#pragma once

#include <cstddef>
#include <string>

// Advises huge pages for the 2 MiB-aligned part of [data, data + size); small ranges are left
// alone.
void adviseHugePages(void* data, std::size_t size);

// Reserves `capacity` bytes in `text` and advises huge pages for its unwritten part.
void reserveWithHugePages(std::string& text, std::size_t capacity);
