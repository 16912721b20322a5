#pragma once
// CDXVideo: one capture device of the capture service, with the device lists of
// the selection dialog (devices, formats as "%dx%d %d bit", input pins), opening
// with a format, input routing, the most recent sample as a frame record, and the
// device's properties window. Belongs to the thread that uses it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "media/frame_image.h"
#include "platform/message.h"
#include "recorder/capture/capture_service.h"
#include "recorder/capture/combo_list.h"

namespace recorder::capture {

// Open's failure when the device does not offer the requested format.
constexpr int kFormatNotOffered = -1;
// Open's failure for a bit count without a sample depth.
constexpr int kDepthNotSupported = -2;

class CDXVideo {
 public:
  // A null service means DefaultCaptureService().
  explicit CDXVideo(std::shared_ptr<CaptureService> service = nullptr);
  ~CDXVideo();
  CDXVideo(const CDXVideo&) = delete;
  CDXVideo& operator=(const CDXVideo&) = delete;

  // Closes anything open; state 0.
  void Initialize();
  // Friendly names of the devices; their number, 0 when there is none (the list is
  // then disabled), -1 without a list or when devices cannot be enumerated.
  int ListDevices(ComboList* combo);
  // The format texts of a device (of the open device when the index holds none),
  // each once; the number of media types found, duplicates included; -1 on failure.
  int ListFormats(int deviceIndex, ComboList* combo);
  int ListFormatsForSelection(const ComboList& deviceCombo, ComboList* formatCombo);
  // The open device's video inputs as "%d: %s"; their number, -1 when the device has
  // no choice of inputs.
  int ListPins(ComboList* combo);
  // 0 when open and running; 1 when no device has the index; a negative code otherwise.
  int Open(int deviceIndex, platform::WindowHandle previewWindow, int width, int height, int bits);
  // Reads "<w>x<h> <bits> bit": tokens split at the characters of "x bits"; true
  // (values set) when three tokens exist. At most 259 characters are read.
  static bool ParseFormatText(std::string_view text, int& width, int& height, int& bits);
  // 1 when the text gives no positive width and height; Open's result otherwise.
  int OpenWithFormatText(int deviceIndex, platform::WindowHandle previewWindow, std::string_view formatText);
  // The selection dialog's reaction to a format choice: 1 when the device opened
  // (its pins listed), 0 otherwise.
  int SelectFormat(platform::WindowHandle previewWindow, const ComboList& deviceCombo, const ComboList& formatCombo,
                   ComboList* pinCombo);
  // Routes the pinIndex-th video input; 1 when the device has a choice of inputs.
  int RoutePin(int pinIndex);
  int RouteSelectedPin(const ComboList& pinCombo);
  // A copy of the most recent sample; null while closed or when there is none.
  std::unique_ptr<media::FrameRecord> GrabFrame();
  // Fills `record` with the most recent sample, reusing its pixel buffer; false when there is none.
  bool GrabFrameInto(media::FrameRecord& record);
  // Asks parentWindow to open the modal properties window for the open device; its
  // reports go to replyTo. 1 when asked, 0 without a device, controls or owner.
  int ShowDeviceProperties(platform::WindowHandle parentWindow, platform::ThreadId replyTo);
  void Close();

  // Beyond the list dialogs: the device position of a listed device (-1 when none), the
  // open device's controls, and changing one.
  int DevicePosition(int listed) const;
  std::vector<DeviceControl> Controls();
  bool SetControl(uint32_t id, int32_t value);
  // Posts the current frame to the preview window of Open; false when there is none to post to.
  bool PostPreview();
  // Asked between the short waits of a starting stream; a stop ends the wait.
  void SetStopCheck(std::function<bool()> stopRequested) { stopRequested_ = std::move(stopRequested); }

  int state() const { return state_; }
  int sampleDepth() const { return depth_; }

 private:
  // The open device's inputs when it has a choice of them; empty otherwise.
  std::vector<DeviceInput> Crossbar();

  std::shared_ptr<CaptureService> service_;
  std::unique_ptr<CaptureDevice> device_;
  platform::WindowHandle previewWindow_ = 0;
  std::vector<int> listedPositions_;  // device position of every listed name
  std::function<bool()> stopRequested_;
  int state_ = 0;
  int32_t depth_ = 0;
};

}  // namespace recorder::capture
