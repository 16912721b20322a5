// velmo --info on a file of fuzzed bytes: it reports or refuses the file, exits
// 0 or 1, and stays inside the file's bytes.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "player/cli.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  std::ostringstream out, err;
  const int code = player::RunCommandLine({"--info", file.path()}, out, err);
  if (code != 0 && code != 1) __builtin_trap();
  if (code == 0 && out.str().rfind("Frames: ", 0) != 0) __builtin_trap();
  return 0;
}
