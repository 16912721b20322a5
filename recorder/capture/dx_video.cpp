#include "recorder/capture/dx_video.h"

#include <cstring>

#include "media/frame_messages.h"
#include "platform/ascii.h"
#include "recorder/capture/capture_messages.h"

namespace recorder::capture {

namespace {

constexpr size_t kWindowTextLimit = 259;

bool ListedDepth(int32_t bits) {
  return bits == 8 || bits == 9 || bits == 12 || bits == 16 || bits == 24 || bits == 32;
}

std::string FormatText(int32_t width, int32_t height, int32_t bits) {
  return std::to_string(width) + "x" + std::to_string(height) + " " + std::to_string(bits) + " bit";
}

}  // namespace

CDXVideo::CDXVideo(std::shared_ptr<CaptureService> service)
    : service_(service ? std::move(service) : DefaultCaptureService()) {}

CDXVideo::~CDXVideo() { Close(); }

void CDXVideo::Initialize() { Close(); }

int CDXVideo::ListDevices(ComboList* combo) {
  if (!combo) return -1;
  const auto devices = service_->Devices();
  if (!devices) return -1;
  listedPositions_.clear();
  if (devices->empty()) {
    combo->Enable(false);
    return 0;
  }
  combo->Clear();
  for (size_t position = 0; position < devices->size(); ++position) {
    const DeviceEntry& entry = (*devices)[position];
    if (!entry.nameReadable) continue;  // it keeps its position all the same
    combo->Add(entry.name);
    listedPositions_.push_back(int(position));
  }
  combo->Select(0);
  return int(listedPositions_.size());
}

int CDXVideo::DevicePosition(int listed) const {
  if (listed < 0 || size_t(listed) >= listedPositions_.size()) return -1;
  return listedPositions_[size_t(listed)];
}

int CDXVideo::ListFormats(int deviceIndex, ComboList* combo) {
  if (combo) {
    combo->Clear();
    combo->Enable(false);
  }
  std::vector<MediaType> types;
  int error = 0;
  if (auto device = service_->OpenDevice(deviceIndex, error))
    types = device->MediaTypes();
  else if (device_)
    types = device_->MediaTypes();
  else
    return -1;
  int count = 0;
  for (const MediaType& type : types) {
    if (!ListedDepth(type.bits)) continue;
    const std::string text = FormatText(type.width, type.height, type.bits);
    if (combo && combo->FindExact(text) < 0) combo->Add(text);
    ++count;  // duplicates count as well
  }
  if (combo && count > 0) {
    // Each text found replaces the selection, so the last one found wins.
    combo->Select(0);
    for (const char* preferred : {"320x240", "320x240 24 bit", "640x480", "640x480 24 bit"})
      combo->SelectPrefix(preferred);
    combo->Enable(true);
  }
  return count;
}

int CDXVideo::ListFormatsForSelection(const ComboList& deviceCombo, ComboList* formatCombo) {
  if (deviceCombo.Selected() < 0) return 0;
  return ListFormats(DevicePosition(deviceCombo.Selected()), formatCombo);
}

std::vector<DeviceInput> CDXVideo::Crossbar() {
  if (!device_) return {};
  std::vector<DeviceInput> inputs = device_->Inputs();
  // A device with a single input has nothing to route.
  if (inputs.size() < 2) return {};
  return inputs;
}

int CDXVideo::ListPins(ComboList* combo) {
  if (combo) {
    combo->Clear();
    combo->Enable(false);
  }
  const std::vector<DeviceInput> inputs = Crossbar();
  if (inputs.empty()) return -1;
  int count = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (!inputs[i].readable || inputs[i].type >= 4096) continue;
    // The text carries the input's number; the stored pinIndex is the list position.
    if (combo) combo->Add(std::to_string(i) + ": " + ConnectorName(inputs[i].type));
    ++count;
  }
  if (combo) {
    combo->Select(0);
    combo->Enable(true);
  }
  return count;
}

int CDXVideo::Open(int deviceIndex, platform::WindowHandle previewWindow, int width, int height, int bits) {
  Close();
  int error = 0;
  std::unique_ptr<CaptureDevice> device = service_->OpenDevice(deviceIndex, error);
  if (!device) return error != 0 ? error : kNoSuchDevice;
  const std::vector<MediaType> types = device->MediaTypes();
  const MediaType* chosen = nullptr;
  for (const MediaType& type : types) {
    if (type.width == width && type.height == height && type.bits == bits) {
      chosen = &type;
      break;
    }
  }
  if (!chosen) return kFormatNotOffered;
  const int32_t depth = SampleDepthFor(bits);
  if (depth == 0) return kDepthNotSupported;
  const int started = device->Start(*chosen, stopRequested_);
  if (started != 0) return started;
  device_ = std::move(device);
  depth_ = depth;
  previewWindow_ = previewWindow;
  state_ = 2;
  RoutePin(0);
  return 0;
}

bool CDXVideo::ParseFormatText(std::string_view text, int& width, int& height, int& bits) {
  std::string copy(text.substr(0, kWindowTextLimit));
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < copy.size() && tokens.size() < 3) {
    const size_t start = copy.find_first_not_of("x bits", i);
    if (start == std::string::npos) break;
    const size_t end = copy.find_first_of("x bits", start);
    tokens.push_back(copy.substr(start, end == std::string::npos ? std::string::npos : end - start));
    i = end == std::string::npos ? copy.size() : end;
  }
  if (tokens.size() < 3) return false;
  // As atoi reads them, but a number past int32 reads as 0 (no format) instead of undefined.
  const auto number = [](const std::string& token) {
    size_t pos = 0;
    return platform::ascii::ReadInt32(token, pos).value_or(0);
  };
  width = number(tokens[0]);
  height = number(tokens[1]);
  bits = number(tokens[2]);
  return true;
}

int CDXVideo::OpenWithFormatText(int deviceIndex, platform::WindowHandle previewWindow, std::string_view formatText) {
  int width = 0, height = 0, bits = 0;
  ParseFormatText(formatText, width, height, bits);
  if (width <= 0 || height <= 0) return 1;
  return Open(deviceIndex, previewWindow, width, height, bits);
}

int CDXVideo::SelectFormat(platform::WindowHandle previewWindow, const ComboList& deviceCombo,
                           const ComboList& formatCombo, ComboList* pinCombo) {
  const int position = DevicePosition(deviceCombo.Selected());
  const std::string format = formatCombo.SelectedText().substr(0, kWindowTextLimit);
  if (pinCombo) pinCombo->Enable(false);
  if (OpenWithFormatText(position, previewWindow, format) != 0) return 0;
  const int pins = ListPins(pinCombo);
  if (pinCombo && pins >= 1) pinCombo->Enable(true);
  return 1;
}

int CDXVideo::RoutePin(int pinIndex) {
  const std::vector<DeviceInput> inputs = Crossbar();
  if (inputs.empty()) return 0;
  int count = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (!inputs[i].readable || inputs[i].type >= 4096) continue;
    if (count++ == pinIndex) {
      device_->SelectInput(int(i));  // a refused route leaves the input as it was
      break;
    }
  }
  return 1;
}

int CDXVideo::RouteSelectedPin(const ComboList& pinCombo) {
  if (pinCombo.Selected() < 0) return 0;
  return RoutePin(pinCombo.Selected());
}

bool CDXVideo::GrabFrameInto(media::FrameRecord& record) {
  if (state_ != 2 || !device_) return false;
  if (!device_->LatestSample(depth_, record.image) || !record.image.Valid()) return false;
  record.imageSize = int32_t(record.image.Size());
  return true;
}

std::unique_ptr<media::FrameRecord> CDXVideo::GrabFrame() {
  auto record = std::make_unique<media::FrameRecord>();
  if (!GrabFrameInto(*record)) return nullptr;
  return record;
}

int CDXVideo::ShowDeviceProperties(platform::WindowHandle parentWindow, platform::ThreadId replyTo) {
  if (!device_ || parentWindow == 0) return 0;
  DevicePropertiesRequest request;
  request.controls = device_->Controls();
  request.worker = replyTo;
  if (request.controls.empty()) return 0;
  return platform::Post<to_properties_owner::OpenDeviceProperties>(parentWindow, intptr_t(replyTo), 0,
                                                                   std::move(request))
             ? 1
             : 0;
}

std::vector<DeviceControl> CDXVideo::Controls() { return device_ ? device_->Controls() : std::vector<DeviceControl>{}; }

bool CDXVideo::SetControl(uint32_t id, int32_t value) { return device_ && device_->SetControl(id, value); }

bool CDXVideo::PostPreview() {
  if (previewWindow_ == 0 || state_ != 2) return false;
  auto frame = GrabFrame();
  if (!frame) return false;
  return platform::Post<media::ShowFrameRecord>(previewWindow_, std::move(frame));
}

void CDXVideo::Close() {
  device_.reset();
  previewWindow_ = 0;
  depth_ = 0;
  state_ = 0;
}

}  // namespace recorder::capture
