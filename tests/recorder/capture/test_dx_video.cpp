// CDXVideo over the scripted service (and V4L2 over a folder without devices):
// the device, format and pin lists, format texts, opening and sample depths.
#include <gtest/gtest.h>

#include <fstream>

#include "recorder/capture/dx_video.h"
#include "recorder/capture/scripted_service.h"
#include "recorder/capture/v4l2_service.h"
#include "tests/test_support.h"

namespace recorder::capture {
namespace {

std::shared_ptr<ScriptedService> Script(const std::string& text) {
  std::string error;
  auto service = ScriptedService::FromScript(text, &error);
  EXPECT_TRUE(service) << error;
  return service;
}

TEST(CDXVideo, FormatListPreselectsAndCountsDuplicates) {
  struct Case {
    const char* name;
    const char* formats;  // script lines
    int count;
    std::vector<std::string> entries;  // in list order (sorted)
    const char* selected;
  };
  const Case cases[] = {
      {"640x480 listed last", "format 320x240 24\nformat 640x480 24\n", 2, {"320x240 24 bit", "640x480 24 bit"},
       "640x480 24 bit"},
      {"640x480 listed first", "format 640x480 24\nformat 320x240 24\n", 2, {"320x240 24 bit", "640x480 24 bit"},
       "640x480 24 bit"},
      {"lone 352x288 12-bit", "format 352x288 12\n", 1, {"352x288 12 bit"}, "352x288 12 bit"},
      {"duplicate counted twice", "format 640x480 24\nformat 640x480 24\n", 2, {"640x480 24 bit"}, "640x480 24 bit"},
      {"640x480 without 24 bits", "format 320x240 24\nformat 640x480 16\n", 2, {"320x240 24 bit", "640x480 16 bit"},
       "640x480 16 bit"},
      {"unlisted depth skipped", "format 320x240 10\nformat 160x120 8\n", 1, {"160x120 8 bit"}, "160x120 8 bit"},
      {"no formats", "", 0, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDXVideo video(Script(std::string("device Cam\n") + c.formats));
    ComboList formats(true);
    EXPECT_EQ(video.ListFormats(0, &formats), c.count);
    EXPECT_EQ(formats.Items(), c.entries);
    EXPECT_EQ(formats.SelectedText(), c.selected);
    EXPECT_EQ(formats.Enabled(), c.count > 0);
  }
}

TEST(CDXVideo, DeviceListKeepsPositionsAndIsDisabledWhenEmpty) {
  test_support::ScopedTempDir noDevices("v4l2");
  std::ofstream(noDevices.Path() + "video0") << "not a device";
  struct Case {
    const char* name;
    std::shared_ptr<CaptureService> service;
    int result;
    std::vector<std::string> names;
    bool enabled;
    int firstPosition;
  };
  const Case cases[] = {
      {"V4L2 without devices", std::make_shared<V4l2Service>(noDevices.Path()), 0, {}, false, -1},
      {"scripted without devices", std::make_shared<ScriptedService>(), 0, {}, false, -1},
      {"two devices", Script("device Desk\ndevice Card\n"), 2, {"Desk", "Card"}, true, 0},
      {"unreadable name keeps its position", Script("device Hidden\nunreadable\ndevice Card\n"), 1, {"Card"}, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDXVideo video(c.service);
    ComboList devices;
    EXPECT_EQ(video.ListDevices(nullptr), -1);
    EXPECT_EQ(video.ListDevices(&devices), c.result);
    EXPECT_EQ(devices.Items(), c.names);
    EXPECT_EQ(devices.Enabled(), c.enabled);
    EXPECT_EQ(video.DevicePosition(0), c.firstPosition);
  }
}

TEST(CDXVideo, PinsListVideoInputsAndRouteByListPosition) {
  struct Case {
    const char* name;
    const char* inputs;
    int count;
    std::vector<std::string> texts;
    int pinIndex;
    int routed;  // input selected by RoutePin, -1 none
  };
  const Case cases[] = {
      {"tuner, composite, S-Video, audio", "input 1\ninput 2\ninput 3\ninput 4097\n", 3,
       {"0: Video Tuner", "1: Video Composite", "2: S-Video"}, 2, 2},
      {"audio input first", "input 4097\ninput 2\ninput 3\n", 2, {"1: Video Composite", "2: S-Video"}, 1, 2},
      {"unknown connector is still video", "input 11\ninput 99\n", 2, {"0: Video USB", "1: Unknown Type"}, 1, 1},
      {"single input: nothing to route", "input 11\n", -1, {}, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto service = Script(std::string("device Card\nformat 320x240 24\n") + c.inputs);
    CDXVideo video(service);
    ComboList pins;
    EXPECT_EQ(video.ListPins(&pins), -1);  // nothing open yet
    ASSERT_EQ(video.Open(0, 0, 320, 240, 24), 0);
    EXPECT_EQ(video.ListPins(&pins), c.count);
    EXPECT_EQ(pins.Items(), c.texts);
    EXPECT_EQ(pins.Enabled(), c.count >= 0);
    EXPECT_EQ(video.RoutePin(c.pinIndex), c.count >= 0 ? 1 : 0);
    EXPECT_EQ(service->SelectedInput(0), c.routed);
  }
}

TEST(CDXVideo, OpensWithAFormatTextAndDeliversTheDepthItAsks) {
  struct Case {
    const char* text;
    int result;
    int32_t bits;  // of the grabbed frame; 0 for none
  };
  const Case cases[] = {
      {"640x480 24 bit", 0, 24},
      {"352x288 12 bit", 0, 24},  // 12-bit formats arrive as 24-bit samples
      {"640x480 16 bit", 0, 16},
      {"640x480 32 bit", 0, 32},
      {"640x480", 1, 0},          // two tokens: not opened
      {"0x480 24 bit", 1, 0},
      {"1024x768 24 bit", kFormatNotOffered, 0},
      {"160x120 10 bit", kDepthNotSupported, 0},
  };
  auto service = Script(
      "device Cam\nformat 640x480 24\nformat 352x288 12\nformat 640x480 16\nformat 640x480 32\nformat 160x120 10\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CDXVideo video(service);
    EXPECT_EQ(video.OpenWithFormatText(0, 0, c.text), c.result);
    EXPECT_EQ(video.state(), c.result == 0 ? 2 : 0);
    auto frame = video.GrabFrame();
    ASSERT_EQ(frame != nullptr, c.bits != 0);
    if (!frame) continue;
    EXPECT_EQ(frame->image.bitsPerPixel, c.bits);
    EXPECT_TRUE(frame->image.Valid());
    EXPECT_EQ(size_t(frame->imageSize), frame->image.Size());
  }
}

TEST(CDXVideo, FormatTextParsing) {
  struct Case {
    const char* text;
    bool ok;
    int width, height, bits;
  };
  const Case cases[] = {
      {"640x480 24 bit", true, 640, 480, 24},
      {"1280x720 16 bit", true, 1280, 720, 16},
      {"640x480", false, 0, 0, 0},
      {"x bits", false, 0, 0, 0},
      {"a 9 7", true, 0, 9, 7},  // a token that is no number reads as 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int w = 0, h = 0, b = 0;
    EXPECT_EQ(CDXVideo::ParseFormatText(c.text, w, h, b), c.ok);
    EXPECT_EQ(w, c.width);
    EXPECT_EQ(h, c.height);
    EXPECT_EQ(b, c.bits);
  }
}

TEST(CDXVideo, OpenReportsWhyADeviceDidNotOpen) {
  struct Case {
    const char* name;
    const char* script;
    int device;
    int result;
  };
  const Case cases[] = {
      {"no such position", "device Cam\nformat 320x240 24\n", 3, kNoSuchDevice},
      {"unplugged since listed", "device Cam\nformat 320x240 24\nunplugged\n", 0, kNoSuchDevice},
      {"busy", "device Cam\nformat 320x240 24\nopen-error -16\n", 0, -16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDXVideo video(Script(c.script));
    EXPECT_EQ(video.Open(c.device, 0, 320, 240, 24), c.result);
    EXPECT_EQ(video.GrabFrame(), nullptr);
  }
}

TEST(ScriptedService, RefusesScriptsItDoesNotUnderstand) {
  const char* scripts[] = {"format 320x240 24\n", "device A\nformat 320 24\n", "device A\ndrop 5 2\n",
                           "device A\nopen-error 3\n", "device A\nwobble\n"};
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    std::string error;
    EXPECT_EQ(ScriptedService::FromScript(script, &error), nullptr);
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace recorder::capture
