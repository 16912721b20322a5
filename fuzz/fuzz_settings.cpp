// Settings file loading: whatever the file holds, loading stays inside its bytes
// and what it hands back saves and loads back to as many cameras.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "recorder/camera/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  recorder::camera::LoadedSettings parsed = recorder::camera::ParseSettings(data, size);
  const fuzz::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  recorder::camera::LoadedSettings loaded = recorder::camera::LoadSettingsFile(file.path());
  if (loaded.cameras.size() != parsed.cameras.size()) __builtin_trap();
  // What was loaded saves and loads back to the same cameras, names and program records.
  std::vector<const recorder::camera::CameraRecord*> cameras;
  for (const auto& c : loaded.cameras) cameras.push_back(c.get());
  const std::vector<uint8_t> saved = recorder::camera::SerializeSettings(cameras, 0, loaded.program);
  const recorder::camera::LoadedSettings again = recorder::camera::ParseSettings(saved.data(), saved.size());
  if (again.cameras.size() != cameras.size() || again.program != loaded.program) __builtin_trap();
  for (size_t i = 0; i < cameras.size(); ++i)
    if (again.cameras[i]->name != cameras[i]->name) __builtin_trap();
  return 0;
}
