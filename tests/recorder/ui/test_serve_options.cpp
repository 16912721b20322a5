// Program Options: the group that turns serving live pictures on, and what OK
// accepts or refuses there.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLineEdit>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "recorder/camera/settings_file.h"
#include "recorder/ui/main_window.h"
#include "recorder/ui/prog_options.h"
#include "tests/recorder/web/http_client.h"
#include "tests/test_support.h"
#include "tools/testcam/testcam_server.h"

namespace {

using recorder::ui::CProgOptions;
namespace web = recorder::web;

TEST(ServeOptions, OkTakesWhatCanServeAndRefusesTheRest) {
  test_support::ScopedTempDir dir{"serveopts"};
  struct Row {
    bool on;
    const char* address;
    const char* user;
    const char* password;
    const char* refused;  // "" when OK closes the dialog
    const char* storedAddress;
    int storedPort;
  };
  const Row rows[] = {
      {true, "", "", "", "", "127.0.0.1", 8090},  // the placeholder's address
      {true, "9000", "", "", "", "127.0.0.1", 9000},
      {true, "[::1]:9001", "", "", "", "::1", 9001},
      {true, "0.0.0.0:8090", "", "", web::kNeedsLoginText, "", 0},
      {true, "0.0.0.0:8090", "anna", "", web::kNeedsLoginText, "", 0},
      {true, "0.0.0.0:8090", " anna ", "pw", "", "0.0.0.0", 8090},
      {true, "cameras.local", "", "", "Address: Not a numeric IP address: cameras.local", "", 0},
      {false, "not even an address", "", "", "", "127.0.0.1", 8090},
  };
  for (const Row& row : rows) {
    CProgOptions dialog(nullptr, 0, dir.Path("autostart/tollan.desktop"), "/usr/bin/tollan");
    // What the dialog shows of stored settings, OK gives back unchanged.
    web::ServeSettings stored;
    stored.enabled = true;
    stored.address = "::1";
    stored.port = 8443;
    dialog.SetServeSettings(stored);
    EXPECT_EQ(dialog.findChild<QLineEdit*>("serveAddress")->text(), "[::1]:8443");
    QString refusal;
    dialog.refuse = [&](const QString& why) { refusal = why; };
    dialog.findChild<QGroupBox*>("serveGroup")->setChecked(row.on);
    dialog.findChild<QLineEdit*>("serveAddress")->setText(row.address);
    dialog.findChild<QLineEdit*>("serveUser")->setText(row.user);
    dialog.findChild<QLineEdit*>("servePassword")->setText(row.password);
    dialog.accept();
    EXPECT_EQ(refusal.toStdString(), row.refused) << row.address;
    EXPECT_EQ(dialog.result(), *row.refused ? 0 : int(QDialog::Accepted)) << row.address;
    if (*row.refused) continue;
    const web::ServeSettings& s = dialog.serveSettings();
    EXPECT_EQ(s.enabled, row.on);
    if (!row.on) continue;
    EXPECT_EQ(s.address, row.storedAddress);
    EXPECT_EQ(s.port, row.storedPort);
    EXPECT_EQ(s.user, std::string(row.user).find("anna") != std::string::npos ? "anna" : "");
  }
}

// Runs the event loop until the condition holds or ms pass.
bool PumpUntil(const std::function<bool()>& condition, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QThread::msleep(20);
  }
  return true;
}

TEST(WindowServing, TheWindowRecorderServesWhatItRecordsUntilItShutsDown) {
  testcam::Options o;
  o.width = 320;
  o.height = 240;
  o.fps = 10;
  testcam::Server camera(o);
  ASSERT_TRUE(camera.Start());
  test_support::ScopedTempDir dir{"windowserve"};
  auto record = recorder::camera::CreateDefaultCamera();
  record->cameraType = recorder::camera::kCameraIp;
  recorder::camera::SetText(record->url, camera.Url("video.mjpg"));
  record->pushStream = 1;
  record->frameDelayMs = 0;
  record->motionEnabled = 0;
  recorder::camera::SetText(record->savePath, dir.Path("rec/video.mjpg"));
  ASSERT_TRUE(recorder::camera::SaveSettingsFile(dir.Path("tollan.cfg"), {record.get()}, 0,
                                                 {{web::kServeRecord, "127.0.0.1:0"}}));
  recorder::ui::MainWindowOptions options;
  options.settingsPath = dir.Path("tollan.cfg");
  options.logFilePath = dir.Path("Logfile.txt");
  options.autostartEntryPath = dir.Path("autostart/tollan.desktop");
  options.programPath = "/usr/bin/tollan";
  options.prompts.error = [](QWidget*, const QString&, const QString&) {};
  recorder::ui::CMainWindow window(std::move(options));
  window.Start();
  ASSERT_TRUE(window.serving() && window.serving()->Serving());
  const std::string wall = window.serving()->WallUrl();
  ASSERT_EQ(wall.rfind("http://127.0.0.1:", 0), 0u) << wall;
  window.controller().StartAll(true);
  http_test::Answer snapshot;
  EXPECT_TRUE(PumpUntil(
      [&] {
        snapshot = http_test::Get(wall + "cameras/0/snapshot.jpg");
        return snapshot.status == 200;
      },
      15000));
  EXPECT_EQ(snapshot.body.substr(0, 2), "\xFF\xD8");
  EXPECT_TRUE(PumpUntil(
      [&] { return http_test::Get(wall + "status.json").body.find("\"status\":\"Started\"") != std::string::npos; },
      5000));
  window.ShutdownNow();
  EXPECT_FALSE(window.serving()->Serving());
  EXPECT_NE(http_test::Get(wall + "status.json").result, CURLE_OK);
}

}  // namespace
