#include "converter/ui/screenshots.h"

#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>

#include "converter/conversion.h"
#include "converter/ui/about_box.h"
#include "converter/ui/converter_dlg.h"
#include "widgets/progress_ex.h"
#include "widgets/prompts.h"
#include "widgets/screenshot_support.h"

namespace converter::ui {

using widgets::BoxIcon;
using widgets::CreateMessageBox;
using widgets::FileRequest;

namespace {

namespace fs = std::filesystem;

using Shooter = widgets::ScreenshotShooter;

// Lets posted messages arrive until done() holds or a minute passed.
bool SettleUntil(const std::function<bool()>& done, int atLeastMs) {
  return widgets::SettleUntil(done, atLeastMs, 60000);
}

// Renders each message box instead of waiting for an answer; cancels the browse dialog.
class ShotPrompts : public Prompts {
 public:
  explicit ShotPrompts(Shooter& shooter) : shooter_(shooter) {}
  void Expect(std::string name) { name_ = std::move(name); }
  void Tell(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon) override {
    std::unique_ptr<QMessageBox> box(CreateMessageBox(parent, text, caption, icon));
    box->show();
    shooter_.Shoot(box.get(), name_.empty() ? "message_box" : name_);
    name_.clear();
  }
  QString ChooseFile(QWidget*, const FileRequest&) override { return {}; }

 private:
  Shooter& shooter_;
  std::string name_;
};

}  // namespace

int RenderScreenshots(const std::string& dir, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir)) {
    err << "brandle: cannot create " << dir << '\n';
    return 1;
  }
  std::string scratch = (fs::temp_directory_path() / "brandle-shots-XXXXXX").string();
  if (!::mkdtemp(scratch.data())) {
    err << "brandle: cannot create a temporary folder\n";
    return 1;
  }
  const std::string recording = scratch + "/Car Park Entrance.mjpg";
  Shooter shooter("brandle", dir, out, err, /*framed=*/true);
  ShotPrompts prompts(shooter);
  if (!widgets::WriteSampleRecording(recording, 600, 1280, 720, 8)) {
    err << "brandle: cannot write the sample recording\n";
    fs::remove_all(scratch, ec);
    return 1;
  }
  {
    CConverterDlg window(&prompts);
    window.InputEdit()->setText(QString::fromStdString(recording));
    window.show();
    shooter.Shoot(&window, "converter_window");

    window.HelpMenu()->popup(window.mapToGlobal(QPoint(8, 24)));
    shooter.Shoot(window.HelpMenu(), "converter_help_menu");
    window.HelpMenu()->hide();

    std::unique_ptr<QDialog> about(CreateAboutBox(&window));
    about->show();
    shooter.Shoot(about.get(), "about_box");
    about->hide();

    // The type list open: types without an encoder here are shown but disabled.
    window.TypeList()->showPopup();
    if (QWidget* popup = window.TypeList()->view()->window()) shooter.Shoot(popup, "converter_type_list");
    window.TypeList()->hidePopup();

    // Half way through a conversion, then cancelled: the window, then the result.
    window.TypeList()->setCurrentIndex(FindVideoType("Divx"));
    window.ConvertButton()->click();
    const auto halfWay = [&] { return window.ProgressBar()->GetPos() >= kFractionRange * 2 / 5 || !window.Converting(); };
    if (SettleUntil(halfWay, 0) && window.Converting()) {
      shooter.Shoot(&window, "converter_window_converting", false);
    } else {
      shooter.Fail("the conversion ended before it could be shown half done");
    }
    prompts.Expect("result_canceled");
    window.CancelButton()->click();
    if (!SettleUntil([&] { return !window.Converting(); }, 0)) shooter.Fail("the cancelled conversion did not end");

    // The recording named as its own output: refused before anything is touched.
    window.OutputEdit()->setText(QString::fromStdString(recording));
    prompts.Expect("result_same_file");
    window.ConvertButton()->click();
    window.TypeList()->setCurrentIndex(0);

    // A whole conversion of a short recording.
    if (!widgets::WriteSampleRecording(recording, 10, 1280, 720, 8)) shooter.Fail("cannot write the short recording");
    prompts.Expect("result_complete");
    window.ConvertButton()->click();
    if (!SettleUntil([&] { return !window.Converting(); }, 0)) shooter.Fail("the conversion did not end");

    // The same recording with garbage after its frames: converted, and the damage named.
    {
      std::ofstream tail(recording, std::ios::binary | std::ios::app);
      tail << std::string(3000, '\x55');
    }
    prompts.Expect("result_damaged");
    window.ConvertButton()->click();
    if (!SettleUntil([&] { return !window.Converting(); }, 0)) shooter.Fail("the damaged conversion did not end");

    // An output folder that does not exist: the reason comes first.
    window.OutputEdit()->setText(QString::fromStdString(scratch + "/No Such Folder/out.avi"));
    prompts.Expect("result_writer_error");
    window.ConvertButton()->click();
    if (!SettleUntil([&] { return !window.Converting(); }, 0)) shooter.Fail("the refused conversion did not end");
  }
  fs::remove_all(scratch, ec);
  return shooter.failed() ? 1 : 0;
}

}  // namespace converter::ui
