// The controller driving real network workers against the test camera:
// the three stop reasons end to end.
#include <gtest/gtest.h>

#include "platform/window_registry.h"
#include "recorder/app/camera_controller.h"
#include "recorder/camera/events.h"
#include "media/mjpg.h"
#include "tests/recorder/net/worker_test_support.h"
#include "tools/testcam/testcam_server.h"
#include "recorder/camera/messages.h"

using namespace recorder;

namespace {

using worker_test::WaitFor;

TEST(ControllerLive, StopRestartAndDiscardReachRealWorkers) {
  testcam::Options o;
  o.width = 160;
  o.height = 120;
  o.fps = 20;
  testcam::Server server(o);
  ASSERT_TRUE(server.Start());
  test_support::ScopedTempDir dir{"controller_live"};
  platform::CollectingWindowTarget inbox;
  const auto window = platform::RegisterWindow(&inbox);
  app::CameraController controller(dir.Path("tollan.cfg"), window);
  ASSERT_TRUE(controller.StartLogThread(dir.Path("Logfile.txt")));
  auto pump = [&](const std::function<bool()>& until) {
    return WaitFor(
        [&] {
          for (auto& m : inbox.TakeAll()) controller.HandleMessage(m);
          return until();
        },
        10000);
  };

  auto cam = camera::CreateDefaultCamera();
  camera::SetText(cam->url, server.Url("video.mjpg"));
  cam->pushStream = 1;
  cam->motionEnabled = 0;
  cam->frameDelayMs = 0;
  camera::SetText(cam->savePath, dir.Path("rec/video.mjpg"));
  controller.AddCamera(std::move(cam));
  ASSERT_TRUE(pump([&] { return controller.Row(0).status == "Started"; }));

  // Reason 0: the worker answers and the row shows "Stopped".
  controller.StopSelected({0});
  ASSERT_TRUE(pump([&] { return controller.Row(0).status == "Stopped"; }));
  EXPECT_EQ(controller.Row(0).workerId, 0u);

  // Reason 2: an edit restarts the running camera; the new worker appends.
  controller.StartSelected({0}, false);
  ASSERT_TRUE(pump([&] { return controller.Row(0).status == "Started"; }));
  std::vector<media::mjpg::FrameSpan> frames;
  ASSERT_TRUE(WaitFor([&] { return media::mjpg::ReadAllFrames(dir.Path("rec/video.mjpg"), frames) && frames.size() >= 5; }, 10000));
  const auto firstWorker = controller.Row(0).workerId;
  controller.EditCamera(0, camera::CopyCamera(*controller.Row(0).record));
  ASSERT_TRUE(pump([&] {
    const auto id = controller.Row(0).workerId;
    return id != 0 && id != firstWorker;
  }));
  const size_t before = frames.size();
  ASSERT_TRUE(WaitFor([&] { return media::mjpg::ReadAllFrames(dir.Path("rec/video.mjpg"), frames) && frames.size() > before + 3; }, 10000));

  // Reason 1: deleting discards the worker without an answer.
  const auto worker = controller.Row(0).worker;
  controller.DeleteCameras({0});
  ASSERT_TRUE(worker->Wait(10000));  // posts to a window are delivered at once: all it sent is here
  for (auto& m : inbox.TakeAll()) EXPECT_NE(m.id, camera::to_main_window::CamStopped::kNumber);
  EXPECT_EQ(controller.CameraCount(), 0u);

  auto plan = controller.BeginShutdown();
  app::CameraController::RunShutdownWaits(plan);
  EXPECT_TRUE(plan.logHandle->Finished());
  controller.FinishShutdown();
  platform::UnregisterWindow(window);
  server.Stop();
}

}  // namespace
