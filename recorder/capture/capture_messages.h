#pragma once
// The messages of a device's properties window. The worker that holds the
// device asks the owner window to open the window (on the window thread); the
// window reports itself, every change of a control and its closing back to the
// worker, which applies the changes to the device while it waits.
#include <string>
#include <vector>

#include "platform/message.h"
#include "recorder/camera/messages.h"
#include "recorder/capture/capture_service.h"

namespace recorder::capture {

// The title every properties window carries; the program's shutdown looks for it.
inline constexpr const char* kPropertiesWindowTitle = "Video Capture Properties";

struct DevicePropertiesRequest {
  std::vector<DeviceControl> controls;
  platform::ThreadId worker = 0;  // receives the window's reports
};

// To the owner window: open the modal properties window.
namespace to_properties_owner {
struct OpenDeviceProperties : platform::WindowMessage<platform::WM_USER + 517, DevicePropertiesRequest> {};
}  // namespace to_properties_owner

// To the properties window: close as if cancelled (the worker is ending); and a
// message the window ignores, whose post tells the worker the window still exists.
namespace to_properties_window {
struct CloseProperties : platform::WindowMessage<platform::WM_USER + 521> {};
struct StillThere : platform::WindowMessage<platform::WM_USER + 522> {};
}  // namespace to_properties_window

// From the properties window to the worker.
namespace to_device_worker {
struct PropertiesShown : platform::ThreadMessage<platform::WM_USER + 518> {};   // wParam window handle
struct ControlChanged : platform::ThreadMessage<platform::WM_USER + 519> {};    // wParam control id, lParam value
// Not 520: the network worker's CutHeldImage has that number among the worker messages.
struct PropertiesClosed : platform::ThreadMessage<platform::WM_USER + 524> {};
}  // namespace to_device_worker

// The local camera worker takes the camera workers' messages and the properties
// window's reports on one queue; the main window also owns device properties windows.
static_assert(platform::DistinctNumbers<camera::to_worker::WorkerStart, camera::to_worker::ThreadStop,
                                        camera::to_worker::SnapshotStart, camera::to_worker::SendFrame,
                                        camera::to_worker::ShowDeviceSettings, camera::to_worker::LiveViewChanged,
                                        camera::to_worker::CutHeldImage, to_device_worker::PropertiesShown,
                                        to_device_worker::ControlChanged, to_device_worker::PropertiesClosed>());
static_assert(platform::DistinctNumbers<camera::to_main_window::CamStatus, camera::to_main_window::CamStopped,
                                        camera::to_main_window::WorkerRegister, camera::to_main_window::WorkerUnregister,
                                        camera::to_main_window::GridChanged, camera::to_main_window::DeleteSelected,
                                        camera::to_main_window::WorkerHealthReport, camera::to_main_window::ShutdownDone,
                                        camera::to_main_window::WorkerLogLine,
                                        to_properties_owner::OpenDeviceProperties>());

}  // namespace recorder::capture
