#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// Offset of the first occurrence of pattern that lies wholly inside buffer at or
// after start; -1 when length or patternLength is 0 or there is none.
long FindBytes(const uint8_t* buffer, size_t length, const uint8_t* pattern, size_t patternLength,
               size_t start = 0);

}  // namespace platform
