// The list's date/time sort key: any text gives a key without reading past it,
// and a text outside 15..50 bytes gives 0.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "widgets/datetime_key.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly the input's size, so a read past it is seen.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const int64_t key = widgets::DateTimeKey(std::string_view(text.data(), text.size()));
  if ((size < 15 || size > 50) && key != 0) __builtin_trap();
  return 0;
}
