#pragma once
// The capture service over V4L2: /dev/video* nodes with video capture capability,
// in node-number order, opened through libv4l2; samples are converted into
// blue-green-red pictures with libv4lconvert (or directly for plain RGB and grey).
#include <string>

#include "recorder/capture/capture_service.h"

namespace recorder::capture {

class V4l2Service : public CaptureService {
 public:
  // deviceFolder holds the video nodes; tests point it at an empty folder.
  explicit V4l2Service(std::string deviceFolder = "/dev");

  std::optional<std::vector<DeviceEntry>> Devices() override;
  std::unique_ptr<CaptureDevice> OpenDevice(int position, int& error) override;

  // Bit count shown in format texts for a V4L2 pixel format; 0 when it is not offered.
  static int32_t BitsOfPixelFormat(uint32_t pixelFormat);
  // Connector type for a V4L2 input: tuners, inputs named after a connector, cameras.
  static int32_t ConnectorOfInput(uint32_t inputType, const std::string& name);

 private:
  struct Node {
    std::string path;
    DeviceEntry entry;
  };
  std::vector<Node> Nodes();

  std::string folder_;
};

}  // namespace recorder::capture
