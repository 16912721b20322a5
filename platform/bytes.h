#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// Offset of the first occurrence of pattern that lies wholly inside buffer at or
// after start; -1 when length or patternLength is 0 or there is none.
long FindBytes(const uint8_t* buffer, size_t length, const uint8_t* pattern, size_t patternLength,
               size_t start = 0);

// Little-endian numbers as they lie in files and on the wire.
inline uint16_t LoadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace platform
