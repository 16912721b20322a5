#include "platform/bytes.h"

#include <cstring>

namespace platform {

long FindBytes(const uint8_t* buffer, size_t length, const uint8_t* pattern, size_t patternLength,
               size_t start) {
  if (length == 0 || patternLength == 0 || !buffer || !pattern) return -1;
  if (patternLength > length || start > length - patternLength) return -1;
  const uint8_t first = pattern[0];
  const size_t last = length - patternLength;
  size_t pos = start;
  while (pos <= last) {
    const void* hit = std::memchr(buffer + pos, first, last - pos + 1);
    if (!hit) return -1;
    pos = static_cast<size_t>(static_cast<const uint8_t*>(hit) - buffer);
    if (std::memcmp(buffer + pos, pattern, patternLength) == 0) return static_cast<long>(pos);
    ++pos;
  }
  return -1;
}

}  // namespace platform
