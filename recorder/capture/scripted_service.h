#pragma once
// A capture service without hardware: devices, media types, inputs and faults
// come from a script, frames are a moving test pattern with the frame number
// drawn in. Used by tests and for demonstrations (TOLLAN_FAKE_CAPTURE).
//
// Script lines (blank lines and lines starting with '#' are skipped):
//   device NAME             a new device at the next position
//   unreadable              its name cannot be read: it keeps its position but is not listed
//   format WxH BITS         one media type (repeat a line for a duplicate)
//   input TYPE              one input of that connector type (1 tuner, 2 composite,
//                           3 S-Video, 11 camera, 4097 audio line, ...); none: one camera input
//   unplugged               listed, but gone when opened
//   open-error CODE         opening fails with this negative code
//   drop FIRST [LAST]       frames FIRST..LAST after a start are not delivered
//   unplug-after N          after N frames the device is gone
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recorder/capture/capture_service.h"

namespace recorder::capture {

struct ScriptedDeviceSpec {
  std::string name;
  bool nameReadable = true;
  std::vector<MediaType> formats;
  std::vector<DeviceInput> inputs;  // empty: one camera input
  bool unplugged = false;
  int openError = 0;
  std::vector<std::pair<int64_t, int64_t>> drops;
  int64_t unplugAfter = 0;  // 0: never
};

// Controls every scripted device offers.
enum ScriptedControl : uint32_t { kControlBrightness = 1, kControlFrameNumber = 2, kControlPattern = 3 };

class ScriptedService : public CaptureService {
 public:
  ScriptedService() = default;  // no devices
  explicit ScriptedService(std::vector<ScriptedDeviceSpec> devices);

  // "Test Pattern Camera": "320x240 24 bit", "640x480 24 bit", "640x480 12 bit", one camera input.
  static std::shared_ptr<ScriptedService> TestPatternCamera();
  // Null with a message naming the line when the script is not understood.
  static std::shared_ptr<ScriptedService> FromScript(const std::string& text, std::string* error);
  static std::shared_ptr<ScriptedService> FromFile(const std::string& path, std::string* error);

  std::optional<std::vector<DeviceEntry>> Devices() override;
  std::unique_ptr<CaptureDevice> OpenDevice(int position, int& error) override;

  // What the devices were told, for tests: the input last selected (-1 none),
  // and the value of a control.
  int SelectedInput(int position) const;
  int32_t ControlValue(int position, uint32_t id) const;

  // What a device keeps between openings, as hardware does. Tests read it from
  // their own thread while a worker uses the device, so it has a lock.
  struct DeviceState {
    ScriptedDeviceSpec spec;
    mutable std::mutex mutex;
    int selectedInput = -1;
    bool gone = false;
    std::vector<DeviceControl> controls;
  };

 private:
  std::vector<std::shared_ptr<DeviceState>> devices_;
};

// Draws test pattern frame `number` (top-down, blue-green-red) into `bgr`.
void DrawTestPattern(int32_t width, int32_t height, int64_t number, int pattern, int brightness, bool showNumber,
                     std::vector<uint8_t>& bgr);

}  // namespace recorder::capture
