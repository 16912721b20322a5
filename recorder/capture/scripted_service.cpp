#include "recorder/capture/scripted_service.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/ascii.h"

namespace recorder::capture {

namespace {

constexpr int kPatternBars = 0;
constexpr int kPatternGradient = 1;
constexpr int kPatternCheckers = 2;

std::vector<DeviceControl> StandardControls() {
  DeviceControl brightness;
  brightness.id = kControlBrightness;
  brightness.name = "Brightness";
  brightness.kind = DeviceControl::Kind::Slider;
  brightness.minimum = 0;
  brightness.maximum = 255;
  brightness.defaultValue = brightness.value = 128;
  DeviceControl number;
  number.id = kControlFrameNumber;
  number.name = "Frame Number";
  number.kind = DeviceControl::Kind::CheckBox;
  number.maximum = 1;
  number.defaultValue = number.value = 1;
  DeviceControl pattern;
  pattern.id = kControlPattern;
  pattern.name = "Pattern";
  pattern.kind = DeviceControl::Kind::Menu;
  pattern.maximum = 2;
  pattern.menuItems = {{kPatternBars, "Colour Bars"}, {kPatternGradient, "Gradient"}, {kPatternCheckers, "Checkers"}};
  return {brightness, number, pattern};
}

// Digits 0-9 in a 3 x 5 cell, one row per 3 bits, top row first.
constexpr uint16_t kDigits[10] = {0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9, 0x79CF, 0x79EF, 0x7292, 0x7BEF, 0x7BCF};

bool DigitPixel(int digit, int column, int row) { return (kDigits[digit] >> (14 - (row * 3 + column))) & 1; }

void FillRect(std::vector<uint8_t>& bgr, int32_t width, int32_t height, int x0, int y0, int w, int h, uint8_t value) {
  const int x1 = std::min(width, x0 + w), y1 = std::min(height, y0 + h);
  for (int y = std::max(0, y0); y < y1; ++y)
    for (int x = std::max(0, x0); x < x1; ++x) std::memset(&bgr[(size_t(y) * width + x) * 3], value, 3);
}

void DrawNumber(std::vector<uint8_t>& bgr, int32_t width, int32_t height, int64_t number) {
  const std::string text = std::to_string(number);
  const int scale = std::max(2, height / 48);
  const int pad = scale * 2;
  const int boxW = int(text.size()) * 4 * scale - scale + 2 * pad;
  const int boxH = 5 * scale + 2 * pad;
  FillRect(bgr, width, height, 0, 0, boxW, boxH, 255);
  for (size_t i = 0; i < text.size(); ++i) {
    const int digit = text[i] - '0';
    for (int row = 0; row < 5; ++row)
      for (int column = 0; column < 3; ++column)
        if (DigitPixel(digit, column, row))
          FillRect(bgr, width, height, pad + (int(i) * 4 + column) * scale, pad + row * scale, scale, scale, 0);
  }
}

class ScriptedDevice : public CaptureDevice {
 public:
  explicit ScriptedDevice(std::shared_ptr<ScriptedService::DeviceState> state) : state_(std::move(state)) {}

  std::vector<MediaType> MediaTypes() override { return state_->spec.formats; }

  int Start(const MediaType& type, const std::function<bool()>&) override {
    type_ = type;
    frame_ = 0;
    started_ = true;
    return 0;
  }

  bool LatestSample(int32_t bits, media::FrameImage& image) override {
    if (!started_) return false;
    const int64_t number = ++frame_;
    const ScriptedDeviceSpec& spec = state_->spec;
    int brightness = 128, pattern = kPatternBars;
    bool showNumber = true;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      if (state_->gone) return false;
      if (spec.unplugAfter > 0 && number > spec.unplugAfter) {
        state_->gone = true;
        return false;
      }
      for (const DeviceControl& c : state_->controls) {
        if (c.id == kControlBrightness) brightness = c.value;
        if (c.id == kControlFrameNumber) showNumber = c.value != 0;
        if (c.id == kControlPattern) pattern = c.value;
      }
    }
    for (const auto& [first, last] : spec.drops)
      if (number >= first && number <= last) return false;
    DrawTestPattern(type_.width, type_.height, number, pattern, brightness, showNumber, bgr_);
    FrameFromTopDownBgr(bgr_.data(), type_.width, type_.height, bits, image);
    return image.Valid();
  }

  std::vector<DeviceInput> Inputs() override {
    if (state_->spec.inputs.empty()) return {DeviceInput{}};
    return state_->spec.inputs;
  }

  bool SelectInput(int input) override {
    if (input < 0 || size_t(input) >= Inputs().size()) return false;
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->selectedInput = input;
    return true;
  }

  std::vector<DeviceControl> Controls() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->controls;
  }

  bool SetControl(uint32_t id, int32_t value) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (DeviceControl& c : state_->controls) {
      if (c.id != id) continue;
      c.value = std::clamp(value, c.minimum, c.maximum);
      return true;
    }
    return false;
  }

 private:
  std::shared_ptr<ScriptedService::DeviceState> state_;
  MediaType type_;
  int64_t frame_ = 0;
  bool started_ = false;
  std::vector<uint8_t> bgr_;
};

bool ReadSize(const std::string& text, int32_t& width, int32_t& height) {
  const size_t x = text.find('x');
  if (x == std::string::npos) return false;
  const std::optional<uint64_t> w = platform::ascii::ParseUnsigned(std::string_view(text).substr(0, x), 8192);
  const std::optional<uint64_t> h = platform::ascii::ParseUnsigned(std::string_view(text).substr(x + 1), 8192);
  if (!w || !h || *w == 0 || *h == 0) return false;
  width = int32_t(*w);
  height = int32_t(*h);
  return true;
}

bool ReadNumber(std::istringstream& in, int64_t& value) {
  std::string word;
  if (!(in >> word)) return false;
  const std::optional<int64_t> number = platform::ascii::ParseWhole(word);
  if (!number) return false;
  value = *number;
  return true;
}

}  // namespace

void DrawTestPattern(int32_t width, int32_t height, int64_t number, int pattern, int brightness, bool showNumber,
                     std::vector<uint8_t>& bgr) {
  bgr.resize(size_t(width) * size_t(height) * 3);
  if (bgr.empty()) return;
  uint8_t lut[256];
  for (int v = 0; v < 256; ++v) lut[v] = uint8_t(std::clamp(v + brightness - 128, 0, 255));
  // White, yellow, cyan, green, magenta, red, blue, black (blue, green, red).
  static const uint8_t kBars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                      {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
  const int shift = int((number * 4) % width);
  const size_t stride = size_t(width) * 3;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = bgr.data() + size_t(y) * stride;
    if (pattern == kPatternBars && y > 0) {
      std::memcpy(row, bgr.data(), stride);  // vertical bars: every row is the first
      continue;
    }
    for (int32_t x = 0; x < width; ++x) {
      const int xs = (x + shift) % width;
      uint8_t* p = row + size_t(x) * 3;
      if (pattern == kPatternGradient) {
        p[0] = lut[xs * 255 / std::max(1, width - 1)];
        p[1] = lut[y * 255 / std::max(1, height - 1)];
        p[2] = lut[255 - xs * 255 / std::max(1, width - 1)];
      } else if (pattern == kPatternCheckers) {
        const uint8_t v = lut[((xs / 32 + (y + shift) / 32) % 2) ? 220 : 40];
        p[0] = p[1] = p[2] = v;
      } else {
        const uint8_t* c = kBars[(xs * 8 / width) % 8];
        p[0] = lut[c[0]], p[1] = lut[c[1]], p[2] = lut[c[2]];
      }
    }
  }
  if (showNumber) DrawNumber(bgr, width, height, number);
}

ScriptedService::ScriptedService(std::vector<ScriptedDeviceSpec> devices) {
  for (auto& spec : devices) {
    auto state = std::make_shared<DeviceState>();
    state->spec = std::move(spec);
    state->controls = StandardControls();
    devices_.push_back(std::move(state));
  }
}

std::shared_ptr<ScriptedService> ScriptedService::TestPatternCamera() {
  ScriptedDeviceSpec spec;
  spec.name = "Test Pattern Camera";
  spec.formats = {{320, 240, 24, 0}, {640, 480, 24, 0}, {640, 480, 12, 0}};
  return std::make_shared<ScriptedService>(std::vector<ScriptedDeviceSpec>{spec});
}

std::shared_ptr<ScriptedService> ScriptedService::FromScript(const std::string& text, std::string* error) {
  std::vector<ScriptedDeviceSpec> devices;
  std::istringstream lines(text);
  std::string line;
  int lineNumber = 0;
  const auto fail = [&](const std::string& why) -> std::shared_ptr<ScriptedService> {
    if (error) *error = "line " + std::to_string(lineNumber) + ": " + why;
    return nullptr;
  };
  while (std::getline(lines, line)) {
    ++lineNumber;
    std::istringstream in(line);
    std::string word;
    if (!(in >> word) || word[0] == '#') continue;
    if (word == "device") {
      ScriptedDeviceSpec spec;
      std::getline(in >> std::ws, spec.name);
      while (!spec.name.empty() && (spec.name.back() == '\r' || spec.name.back() == ' ')) spec.name.pop_back();
      devices.push_back(std::move(spec));
      continue;
    }
    if (devices.empty()) return fail("\"" + word + "\" before the first device");
    ScriptedDeviceSpec& d = devices.back();
    int64_t a = 0, b = 0;
    if (word == "unreadable") {
      d.nameReadable = false;
    } else if (word == "format") {
      MediaType type;
      std::string size;
      if (!(in >> size) || !ReadSize(size, type.width, type.height) || !ReadNumber(in, a))
        return fail("format needs WIDTHxHEIGHT and a bit count");
      type.bits = int32_t(a);
      d.formats.push_back(type);
    } else if (word == "input") {
      if (!ReadNumber(in, a)) return fail("input needs a connector type");
      d.inputs.push_back(DeviceInput{int32_t(a), true});
    } else if (word == "unplugged") {
      d.unplugged = true;
    } else if (word == "open-error") {
      if (!ReadNumber(in, a) || a >= 0) return fail("open-error needs a negative code");
      d.openError = int(a);
    } else if (word == "drop") {
      if (!ReadNumber(in, a) || a < 1) return fail("drop needs a first frame number");
      b = a;
      if (!(in >> std::ws).eof() && (!ReadNumber(in, b) || b < a))
        return fail("drop: the last frame comes before the first");
      d.drops.emplace_back(a, b);
    } else if (word == "unplug-after") {
      if (!ReadNumber(in, a) || a < 1) return fail("unplug-after needs a frame count");
      d.unplugAfter = a;
    } else {
      return fail("unknown word \"" + word + "\"");
    }
  }
  return std::make_shared<ScriptedService>(std::move(devices));
}

std::shared_ptr<ScriptedService> ScriptedService::FromFile(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    if (error) *error = std::strerror(errno);
    return nullptr;
  }
  std::stringstream text;
  text << in.rdbuf();
  return FromScript(text.str(), error);
}

std::optional<std::vector<DeviceEntry>> ScriptedService::Devices() {
  std::vector<DeviceEntry> entries;
  for (const auto& d : devices_) entries.push_back(DeviceEntry{d->spec.name, d->spec.nameReadable});
  return entries;
}

std::unique_ptr<CaptureDevice> ScriptedService::OpenDevice(int position, int& error) {
  if (position < 0 || size_t(position) >= devices_.size()) {
    error = kNoSuchDevice;
    return nullptr;
  }
  const auto& state = devices_[size_t(position)];
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    if (state->spec.unplugged || state->gone) {
      error = kNoSuchDevice;
      return nullptr;
    }
  }
  if (state->spec.openError < 0) {
    error = state->spec.openError;
    return nullptr;
  }
  error = 0;
  return std::make_unique<ScriptedDevice>(state);
}

int ScriptedService::SelectedInput(int position) const {
  if (position < 0 || size_t(position) >= devices_.size()) return -1;
  std::lock_guard<std::mutex> lock(devices_[size_t(position)]->mutex);
  return devices_[size_t(position)]->selectedInput;
}

int32_t ScriptedService::ControlValue(int position, uint32_t id) const {
  if (position < 0 || size_t(position) >= devices_.size()) return 0;
  std::lock_guard<std::mutex> lock(devices_[size_t(position)]->mutex);
  for (const DeviceControl& c : devices_[size_t(position)]->controls)
    if (c.id == id) return c.value;
  return 0;
}

}  // namespace recorder::capture
