#pragma once
// The capture service behind CDXVideo: which video input devices exist, what
// each offers (media types, video inputs, controls), and the most recent
// sample of an opened device. Two services implement it: V4L2 through libv4l2
// for real devices, and a scripted one for tests and demonstrations.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "media/frame_image.h"

namespace recorder::capture {

// One position in the device enumeration. A device whose name cannot be read
// still takes its position, so device indices stay those of the enumeration.
struct DeviceEntry {
  std::string name;
  bool nameReadable = true;
};

// One media type of a device's capture output: a frame size and the bit count
// its format text shows. `code` is the service's own format key.
struct MediaType {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bits = 0;
  uint32_t code = 0;
};

// Physical connector types of video and audio inputs.
enum ConnectorType : int32_t {
  kConnectorVideoTuner = 1,
  kConnectorVideoComposite = 2,
  kConnectorSVideo = 3,
  kConnectorVideoRGB = 4,
  kConnectorVideoYRYBY = 5,
  kConnectorVideoSerialDigital = 6,
  kConnectorVideoParallelDigital = 7,
  kConnectorVideoSCSI = 8,
  kConnectorVideoAUX = 9,
  kConnectorVideo1394 = 10,
  kConnectorVideoUSB = 11,
  kConnectorVideoDecoder = 12,
  kConnectorVideoEncoder = 13,
  kConnectorAudioTuner = 4096,
  kConnectorAudioLine = 4097,
  kConnectorAudioMicrophone = 4098,
  kConnectorAudioAESDigital = 4099,
  kConnectorAudioSPDIF = 4100,
  kConnectorAudioSCSI = 4101,
  kConnectorAudioAUX = 4102,
  kConnectorAudio1394 = 4103,
  kConnectorAudioUSB = 4104,
  kConnectorAudioDecoder = 4105,
};
// "Video Tuner", "S-Video", ...; "Unknown Type" for any other number.
const char* ConnectorName(int32_t type);

// One input of a device. Types below 4096 are video inputs.
struct DeviceInput {
  int32_t type = kConnectorVideoUSB;
  bool readable = true;  // false: its information could not be read
};

// One adjustable setting of a device, as its properties window shows it.
struct DeviceControl {
  enum class Kind { Slider, CheckBox, Menu };
  uint32_t id = 0;
  std::string name;
  Kind kind = Kind::Slider;
  int32_t minimum = 0;
  int32_t maximum = 0;
  int32_t step = 1;
  int32_t defaultValue = 0;
  int32_t value = 0;
  bool readOnly = false;
  std::vector<std::pair<int32_t, std::string>> menuItems;  // Menu: value and text
};

// An opened device. Belongs to the thread that opened it.
class CaptureDevice {
 public:
  virtual ~CaptureDevice() = default;
  // The media types of the capture output, duplicates included, in the device's order.
  virtual std::vector<MediaType> MediaTypes() = 0;
  // Starts delivering samples of one of the media types. 0, or a negative error code.
  // Waiting for the first sample asks stopRequested between short waits.
  virtual int Start(const MediaType& type, const std::function<bool()>& stopRequested) = 0;
  // The most recent sample as a bottom-up frame image of `bits` bits per pixel
  // (24 blue-green-red, 16 RGB555, 32 blue-green-red-unused). False when there is none.
  virtual bool LatestSample(int32_t bits, media::FrameImage& image) = 0;
  // The device's inputs in their order, and the choice of one of them.
  virtual std::vector<DeviceInput> Inputs() = 0;
  virtual bool SelectInput(int input) = 0;
  virtual std::vector<DeviceControl> Controls() = 0;
  virtual bool SetControl(uint32_t id, int32_t value) = 0;
};

// The error of opening a position that holds no device.
constexpr int kNoSuchDevice = 1;

class CaptureService {
 public:
  virtual ~CaptureService() = default;
  // Every device position in enumeration order; nothing when the devices cannot be enumerated.
  virtual std::optional<std::vector<DeviceEntry>> Devices() = 0;
  // Opens the device at a position. Null with `error` kNoSuchDevice when the position
  // holds none, or with a negative error code when the device cannot be opened.
  virtual std::unique_ptr<CaptureDevice> OpenDevice(int position, int& error) = 0;
};

// The service this process uses: the scripted one when TOLLAN_FAKE_CAPTURE is set
// ("1": the built-in test pattern camera; anything else: a script file), shared by
// every caller; V4L2 otherwise. A script that cannot be read gives a service
// without devices, and says why on stderr.
std::shared_ptr<CaptureService> DefaultCaptureService();

// A top-down, blue-green-red picture turned into a bottom-up frame image of the
// given depth (24, 16 or 32); any other depth gives 24.
void FrameFromTopDownBgr(const uint8_t* bgr, int32_t width, int32_t height, int32_t bits,
                         media::FrameImage& image);

// The depth of the samples for a format's bit count: 8, 9, 12 and 24 give 24, 16
// gives 16 (RGB555), 32 gives 32; 0 for any other.
int32_t SampleDepthFor(int32_t formatBits);

}  // namespace recorder::capture
