// The controller keeps the settings file's program records through its saves,
// and publishes its cameras to live viewers.
#include <gtest/gtest.h>

#include "recorder/app/camera_controller.h"
#include "recorder/camera/field_table.h"
#include "recorder/camera/settings_file.h"
#include "tests/test_support.h"

namespace {

using namespace recorder;

std::unique_ptr<camera::CameraRecord> Camera(const std::string& name, const std::string& savePath) {
  auto c = camera::CreateDefaultCamera();
  c->name = name;
  camera::SetText(c->savePath, savePath);
  return c;
}

app::WorkerFactory NoWorkers() {
  return [](worker::WorkerParams) -> platform::ThreadHandlePtr { return nullptr; };
}

TEST(ControllerProgram, EverySaveKeepsTheProgramRecords) {
  test_support::ScopedTempDir dir{"program"};
  const std::string path = dir.Path("tollan.cfg");
  const camera::ProgramRecords stored{{"serve", "127.0.0.1:8090"}, {"laterSetting", "kept"}};
  auto a = Camera("a", "/srv/a/video.mjpg");
  auto b = Camera("b", "/srv/b/video.mjpg");
  ASSERT_TRUE(camera::SaveSettingsFile(path, {a.get(), b.get()}, 0, stored));

  struct Step {
    const char* what;
    std::function<void(app::CameraController&)> run;
  };
  const Step steps[] = {
      {"program option", [](app::CameraController& c) { c.SetProgramOptions(1); }},
      {"reorder",
       [](app::CameraController& c) {
         c.ReorderRows({1, 0});
       }},
      {"edit", [](app::CameraController& c) { c.EditCamera(0, Camera("c", "/srv/c/video.mjpg")); }},
      {"add", [](app::CameraController& c) { c.AddCamera(Camera("d", "/srv/d/video.mjpg")); }},
      {"delete", [](app::CameraController& c) { c.DeleteCameras({0}); }},
  };
  for (const Step& step : steps) {
    app::CameraController controller(path, 0, NoWorkers());
    controller.LoadSettings();
    EXPECT_EQ(controller.programRecords(), stored);
    step.run(controller);
    EXPECT_EQ(camera::LoadSettingsFile(path).program, stored) << step.what;
  }
  app::CameraController controller(path, 0, NoWorkers());
  controller.LoadSettings();
  controller.SetProgramRecords({{"serve", "off"}});
  EXPECT_EQ(camera::LoadSettingsFile(path).program, (camera::ProgramRecords{{"serve", "off"}}));
}

TEST(ControllerProgram, ViewersSeeEachCameraByNameOrSaveFolderWithItsStatus) {
  test_support::ScopedTempDir dir{"program"};
  const std::string path = dir.Path("tollan.cfg");
  auto named = Camera("porch", "/srv/porch/%Y/video.mjpg");
  auto unnamed = Camera("", "/srv/yard/video.mjpg");
  ASSERT_TRUE(camera::SaveSettingsFile(path, {named.get(), unnamed.get()}, 0));
  app::CameraController controller(path, 0, NoWorkers());
  controller.LoadSettings();
  EXPECT_FALSE(controller.Row(0).live->Serving());

  auto board = std::make_shared<web::LiveBoard>();
  controller.SetLiveBoard(board);
  struct Row {
    const char* title;
    const char* status;
  };
  auto check = [&](const std::vector<Row>& rows) {
    const auto cameras = board->Cameras();
    ASSERT_EQ(cameras.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      const auto info = cameras[i]->ReadInfo();
      EXPECT_EQ(info.title, rows[i].title) << i;
      EXPECT_EQ(info.status, rows[i].status) << i;
      EXPECT_TRUE(cameras[i]->Serving());
    }
  };
  check({{"porch", "Stopped"}, {"/srv/yard", "Stopped"}});
  controller.StartCamera(1, true);  // no worker can be made: the row says why
  check({{"porch", "Stopped"}, {"/srv/yard", "Init Failed"}});
  controller.ReorderRows({1, 0});
  EXPECT_EQ(board->Cameras()[1]->ReadInfo().title, "porch");
  controller.DeleteCameras({0});
  check({{"porch", "Stopped"}});
  controller.SetLiveBoard(nullptr);
  EXPECT_TRUE(board->Cameras().empty());
  EXPECT_FALSE(controller.Row(0).live->Serving());
}

}  // namespace
