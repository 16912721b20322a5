#include "recorder/ui/screenshots.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QThread>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "media/frame_image.h"
#include "platform/message_thread.h"
#include "recorder/camera/camera_record.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"
#include "recorder/ui/about_box.h"
#include "recorder/ui/camera_dialog_screenshots.h"
#include "recorder/ui/log_view.h"
#include "recorder/ui/main_window.h"
#include "recorder/ui/prog_options.h"
#include "recorder/ui/tray_icon.h"
#include "recorder/ui/video_dlg.h"
#include "widgets/list_ctrl_ex.h"
#include "widgets/picture_box.h"
#include "widgets/screenshot_support.h"

namespace recorder::ui {

namespace {

namespace fs = std::filesystem;

// Stands in for a camera worker: reports one status and answers stop requests.
class StatusWorker : public platform::MessageThread {
 public:
  StatusWorker(platform::WindowHandle main, int status) : main_(main), status_(status) {}

 protected:
  bool InitInstance() override {
    platform::Post<camera::to_main_window::CamStatus>(main_, Id(), status_);
    if (status_ == camera::kStatusInitFailed) {
      // A failed worker ends on its own, as a local camera without its device does.
      platform::Post<camera::to_main_window::CamStopped>(main_, Id(), camera::kStopReasonStop);
      PostQuit(0);
    }
    return true;
  }
  void OnMessage(platform::Message& msg) override {
    if (!platform::Is<camera::to_worker::ThreadStop>(msg)) return;
    if (msg.wParam != camera::kStopReasonDiscard)
      platform::Post<camera::to_main_window::CamStopped>(main_, Id(), msg.wParam);
    PostQuit(0);
  }

 private:
  platform::WindowHandle main_;
  int status_;
};

// A street scene of plain shapes, bottom-up BGR like every frame.
media::FrameImage TestScene(int width, int height) {
  media::FrameImage image;
  image.width = width;
  image.height = height;
  image.bitsPerPixel = 24;
  image.pixels.resize(size_t(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const int top = height - 1 - y;  // row counted from the top of the picture
    for (int x = 0; x < width; ++x) {
      uint8_t r, g, b;
      if (top < height * 55 / 100) {  // sky
        r = uint8_t(120 + top * 80 / height);
        g = uint8_t(170 + top * 60 / height);
        b = 235;
      } else {  // road
        r = g = b = uint8_t(90 + (x / 8 + top / 8) % 2 * 6);
      }
      // A house and its window.
      if (x > width / 10 && x < width * 4 / 10 && top > height * 25 / 100 && top < height * 58 / 100) {
        r = 190, g = 120, b = 80;
        if (x > width * 2 / 10 && x < width * 3 / 10 && top > height * 33 / 100 && top < height * 43 / 100)
          r = 250, g = 230, b = 140;
      }
      // A car in motion.
      if (x > width * 55 / 100 && x < width * 80 / 100 && top > height * 62 / 100 && top < height * 74 / 100)
        r = 200, g = 30, b = 40;
      uint8_t* p = &image.pixels[(size_t(y) * width + x) * 3];
      p[0] = b, p[1] = g, p[2] = r;
    }
  }
  return image;
}

using Shooter = widgets::ScreenshotShooter;
using widgets::Settle;

}  // namespace

int RenderScreenshots(const std::string& dir, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir)) {
    err << "tollan: cannot create " << dir << '\n';
    return 1;
  }
  // The cameras shown live in a settings file of their own, removed at the end.
  std::string scratchTemplate = (fs::temp_directory_path() / "tollan-shots-XXXXXX").string();
  if (!::mkdtemp(scratchTemplate.data())) {
    err << "tollan: cannot create a temporary folder\n";
    return 1;
  }
  const std::string scratch = scratchTemplate;
  Shooter shooter("tollan", dir, out, err, true);
  {
    MainWindowOptions options;
    options.settingsPath = scratch + "/tollan.cfg";
    options.logFilePath = scratch + "/Logfile.txt";
    options.autostartEntryPath = scratch + "/autostart/tollan.desktop";
    options.programPath = "/usr/bin/tollan";
    // The cameras are added bottom row first; each reports one status (-1: none,
    // and that one is stopped below).
    const int statuses[] = {camera::kStatusInitFailed, -1, camera::kStatusStarted};
    options.workerFactory = [statuses](worker::WorkerParams request) -> platform::ThreadHandlePtr {
      static int next = 0;
      const int status = statuses[next++ % 3];
      auto handle = platform::MessageThread::Start(std::make_unique<StatusWorker>(request.mainWindow, status));
      return handle;
    };
    CMainWindow window(std::move(options));
    window.Start();
    const char* paths[] = {"/srv/cameras/front-door/%Y-%m-%d/video.mjpg", "/srv/cameras/garage/%A/garage.jpg",
                           "/media/usb/yard/%Y/%m/%d/yard.mjpg"};
    const char* urls[] = {"http://127.0.0.1:8080/video.mjpg", "http://127.0.0.1:8081/image.jpg",
                          "ftp://127.0.0.1/yard/snap.jpg"};
    for (int i = 2; i >= 0; --i) {
      // The last row is a local camera whose device is missing.
      const int32_t type = i == 2 ? camera::kCameraLocal : camera::kCameraIp;
      auto record = window.controller().NewCameraRecord(type);
      camera::SetText(record->savePath, paths[i]);
      camera::SetText(record->url, urls[i]);
      window.AddCamera(type, std::move(record));
    }
    Settle(200);
    window.controller().StopSelected({1});
    Settle(200);
    window.list().SortByColumn(1);  // by type: the order stays, the header shows its arrow
    window.list().SelectRow(0);
    window.list().SetSelectionMark(0);
    window.show();
    shooter.Shoot(&window, "main_window");

    // The live view of the first camera: a frame with motion, the grid shown.
    if (CVideoDlg* view = window.LiveViewOf(0)) {
      auto record = std::make_unique<media::FrameRecord>();
      record->image = TestScene(320, 240);
      record->imageSize = int32_t(record->image.pixels.size());
      record->triggered = 1;
      // Blocks of 16 x 12 pixels, rows counted from the bottom: the car's.
      record->firstBlockColumn = 11, record->firstBlockRow = 5;
      record->lastBlockColumn = 15, record->lastBlockRow = 7;
      std::vector<uint8_t> grid(camera::kGridBytes, 0);
      for (int column = 0; column < 20; ++column) grid[column * 20 + 19] = grid[column * 20 + 18] = 1;  // sky
      view->SetGrid(grid);
      view->Picture()->SetGridEditing(true);
      view->Picture()->ShowRecord(std::move(record));
      view->ShowMotionLevel(37, true);
      view->show();
      shooter.Shoot(view, "live_view");
      CVideoDlg* empty = window.LiveViewOf(1);
      if (empty) {
        empty->ShowMotionLevel(-1, false);
        empty->show();
        shooter.Shoot(empty, "live_view_empty");
        empty->hide();
      }
      view->hide();
    }

    // The log with a few events, as workers post them.
    const platform::ThreadId log = window.controller().logThreadId();
    platform::Post<camera::to_log::LogEvent>(log, camera::kEventSocketThreadStarted, 0,
                                             std::string("http://127.0.0.1:8080/video.mjpg"));
    platform::Post<camera::to_log::LogEvent>(log, camera::kEventConnectFailed, 0, std::string("127.0.0.1"));
    platform::Post<camera::to_log::LogEvent>(log, camera::kEventReEstablished, 0, std::string("127.0.0.1"));
    platform::Post<camera::to_log::LogEvent>(log, camera::kEventWriteError, 0,
                                             std::string("/media/usb/yard/2026/12/08/yard.mjpg"));
    Settle(300);
    if (CLogView* logView = window.logView()) {
      logView->show();
      shooter.Shoot(logView, "log_view");
      logView->hide();
    }

    {
      CProgOptions programOptions(&window, 1, scratch + "/autostart/tollan.desktop", "/usr/bin/tollan");
      programOptions.SetBoxes(true, true);
      web::ServeSettings serve;
      serve.enabled = true;
      serve.address = "192.168.1.20";
      serve.user = "viewer";
      serve.password = "secret";
      programOptions.SetServeSettings(serve);
      programOptions.show();
      shooter.Shoot(&programOptions, "program_options");
    }
    {
      // What "Start Selected Cameras" asks before it would empty a recording.
      const auto question = CreateCutQuestion(&window, "/srv/cameras/front-door/2026-12-08/video.mjpg", 203);
      question->show();
      shooter.Shoot(question.get(), "start_anew_question");
    }
    {
      std::unique_ptr<QDialog> about(CreateAboutBox(&window));
      about->show();
      shooter.Shoot(about.get(), "about_box");
    }
    {
      CTrayIcon tray;
      tray.Create(QIcon(), "Tollan", {}, {});
      tray.Menu()->show();
      shooter.Shoot(tray.Menu(), "tray_menu");
      tray.Menu()->hide();
    }

    // Camera options, every page, and the two source dialogs.
    for (const QString& file : SaveCameraDialogScreenshots(QString::fromStdString(dir)))
      out << file.toStdString() << '\n';
    window.ShutdownNow();
  }
  fs::remove_all(scratch, ec);
  return shooter.failed() ? 1 : 0;
}

}  // namespace recorder::ui
