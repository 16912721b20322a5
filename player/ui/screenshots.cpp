#include "player/ui/screenshots.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "player/editing.h"
#include "player/messages.h"
#include "player/ui/about_box.h"
#include "player/ui/copy_dlg.h"
#include "player/ui/player_dlg.h"
#include "widgets/picture_box.h"
#include "widgets/progress_ex.h"
#include "widgets/prompts.h"
#include "widgets/screenshot_support.h"

namespace player::ui {

namespace {

namespace fs = std::filesystem;

using Shooter = widgets::ScreenshotShooter;
using widgets::SettleUntil;

// Renders each message box instead of waiting for an answer.
class ShotPrompts : public widgets::Prompts {
 public:
  ShotPrompts(Shooter& shooter, std::string name) : shooter_(shooter), name_(std::move(name)) {}
  void Tell(QWidget* parent, const QString& text, const QString& caption, widgets::BoxIcon icon) override {
    std::unique_ptr<QMessageBox> box(widgets::CreateMessageBox(parent, text, caption, icon));
    box->show();
    shooter_.Shoot(box.get(), name_);
    told_ = true;
  }
  QString ChooseFile(QWidget*, const widgets::FileRequest&) override { return {}; }
  bool Told() const { return told_; }

 private:
  Shooter& shooter_;
  std::string name_;
  bool told_ = false;
};

void CloseFile(CPlayerDlg& window) {
  if (window.ThreadId() == 0) return;
  platform::Post<to_video_thread::VT_CLOSE>(window.ThreadId());
  SettleUntil([&] { return window.ThreadId() == 0; });
}

}  // namespace

int RenderScreenshots(const std::string& dir, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir)) {
    err << "velmo: cannot create " << dir << '\n';
    return 1;
  }
  std::string scratch = (fs::temp_directory_path() / "velmo-shots-XXXXXX").string();
  if (!::mkdtemp(scratch.data())) {
    err << "velmo: cannot create a temporary folder\n";
    return 1;
  }
  const std::string recording = scratch + "/Car Park Entrance.mjpg";
  const std::string notRecording = scratch + "/notes.mjpg";
  Shooter shooter("velmo", dir, out, err);
  if (!widgets::WriteSampleRecording(recording, 30, 640, 480, 30)) {
    err << "velmo: cannot write the sample recording\n";
    fs::remove_all(scratch, ec);
    return 1;
  }
  {
    const int fd = ::open(notRecording.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
      const char text[] = "not a recording\n";
      [[maybe_unused]] ssize_t ignored = ::write(fd, text, sizeof text - 1);
      ::close(fd);
    }
  }
  {
    CPlayerDlg empty;
    empty.Start();
    shooter.Shoot(&empty, "player_window_empty");

    CPlayerDlg invalid;
    invalid.Start(notRecording);
    SettleUntil([&] { return invalid.ThreadId() == 0 && !invalid.SizeLabel()->text().isEmpty(); });
    shooter.Shoot(&invalid, "player_window_invalid");

    // An edit's notice names the file and the system's reason.
    ShotPrompts prompts(shooter, "notice_cannot_write");
    CPlayerDlg noticed(PlayerDlgOptions{&prompts, {}});
    noticed.Start();
    platform::Post<to_player_window::PLAYER_NOTICE>(noticed.Handle(), kNoticeCannotWrite, 0,
                                                    std::string("/home/user/Videos/Old Cuts/yard.mjpg: No such file or directory"));
    if (!SettleUntil([&] { return prompts.Told(); })) shooter.Fail("the notice was not shown");
  }
  {
    CPlayerDlg window;
    // Slow enough that the frame on view stays while the pictures are taken.
    window.DelayEdit()->setText("2000");
    window.Start(recording);
    SettleUntil([&] { return window.Picture()->HasPicture(); });
    platform::Post<to_video_thread::VT_SEEK>(window.ThreadId(), 43200);
    SettleUntil([&] { return window.PositionBar()->GetPos() >= 40000; }, 200);
    shooter.Shoot(&window, "player_window");

    window.ContextMenu()->popup(window.Picture()->mapToGlobal(QPoint(120, 90)));
    shooter.Shoot(window.ContextMenu(), "player_context_menu");
    window.ContextMenu()->hide();

    window.WindowMenu()->popup(window.mapToGlobal(QPoint(20, window.height() - 20)));
    shooter.Shoot(window.WindowMenu(), "player_window_menu");
    window.WindowMenu()->hide();

    CCopyDlg* copy = window.CopyDialog();
    copy->Progress()->SetPos(42);
    copy->show();
    shooter.Shoot(copy, "copy_dialog");
    copy->hide();
    copy->Progress()->SetPos(0);

    std::unique_ptr<QDialog> about(CreateAboutBox(&window));
    about->show();
    shooter.Shoot(about.get(), "about_box");
    about->hide();

    // The smallest the window can be dragged: every text still whole.
    window.resize(window.minimumSize());
    shooter.Shoot(&window, "player_window_smallest");

    CloseFile(window);
  }
  fs::remove_all(scratch, ec);
  return shooter.failed() ? 1 : 0;
}

}  // namespace player::ui
