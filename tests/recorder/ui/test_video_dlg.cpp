// Live view: motion bar, hiding and clearing, sizes, visibility for workers, the saved grid.
#include <QApplication>
#include <QCoreApplication>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/frame_messages.h"
#include "platform/window_registry.h"
#include "recorder/camera/messages.h"
#include "recorder/ui/video_dlg.h"
#include "widgets/picture_box.h"
#include "widgets/progress_ex.h"

namespace {

using recorder::ui::CVideoDlg;
using widgets::CProgressEx;
namespace to_live_view = recorder::camera::to_live_view;
namespace to_main_window = recorder::camera::to_main_window;

void Deliver() { QCoreApplication::sendPostedEvents(); }

void PostFrame(platform::WindowHandle view) {
  auto r = std::make_unique<media::FrameRecord>();
  r->image.width = 20;
  r->image.height = 20;
  r->image.bitsPerPixel = 24;
  r->image.pixels.assign(20 * 20 * 3, 90);
  platform::Post<media::ShowFrameRecord>(view, 0, 0, std::move(r));
  Deliver();
}

// Views of cameras with the same file name are told apart by their folders.
TEST(VideoDlg, TitleNamesTheFileAndItsLastTwoFolders) {
  struct Case {
    std::string savePath;
    std::string title;
  };
  const Case cases[] = {
      {"/home/u/Cameras/front-door/%A/video.mjpg", "video.mjpg - front-door/%A"},
      {"/home/u/Cameras/%A/video.mjpg", "video.mjpg - Cameras/%A"},
      {"/srv/yard/video.mjpg/", "video.mjpg - srv/yard"},  // trailing '/' ignored
      {"/cams/video.mjpg", "video.mjpg - cams"},
      {"/video.mjpg", "video.mjpg"},
      {"video.mjpg", "video.mjpg"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(CVideoDlg::TitleForSavePath(c.savePath).toStdString(), c.title) << c.savePath;
}

TEST(VideoDlg, MotionBarFollowsTheLevel) {
  struct Row {
    std::optional<std::pair<int, int>> message;  // level, triggered
    QString text;
    int32_t position;
    uint32_t fill;
  };
  const std::vector<Row> rows = {
      {std::nullopt, " ", 0, 0x840A04},
      {{{-1, 0}}, "Motion Detection is OFF", 0, 0x840A04},
      {{{0, 0}}, "Motion Level: 0", 0, 0x840A04},
      {{{128, 1}}, "Motion Level: 128", 128, 0x0000FF},
      {{{255, 0}}, "Motion Level: 255", 255, 0x840A04},
  };
  for (const Row& r : rows) {
    CVideoDlg view(nullptr);
    if (r.message) platform::Post<to_live_view::MotionLevel>(view.Handle(), r.message->first, r.message->second);
    Deliver();
    const CProgressEx& bar = *view.MotionBar();
    const std::string what = r.text.toStdString();
    EXPECT_EQ(bar.DisplayText(), r.text) << what;
    EXPECT_EQ(bar.GetPos(), r.position) << what;
    EXPECT_EQ(bar.GetRange(true), 0) << what;
    EXPECT_EQ(bar.GetRange(false), 255) << what;
    EXPECT_EQ(bar.BarColorA(), CProgressEx::ColorRef(r.fill)) << what;
    EXPECT_EQ(bar.BarColorB(), CProgressEx::ColorRef(0xDFBC5F)) << what;
  }
}

TEST(VideoDlg, EndingHidesAndOnlyACommandClearsThePicture) {
  using End = std::function<void(CVideoDlg&)>;
  struct Row {
    std::string how;
    End end;
    bool keepsPicture;
  };
  const std::vector<Row> rows = {
      {"close button", [](CVideoDlg& v) { v.close(); }, true},
      {"Cancel()", [](CVideoDlg& v) { v.Cancel(); }, false},
      {"posted Cancel",
       [](CVideoDlg& v) { platform::Post<recorder::ui::VideoDlgCommand>(v.Handle(), recorder::ui::kCommandCancel); },
       false},
      {"posted OK",
       [](CVideoDlg& v) { platform::Post<recorder::ui::VideoDlgCommand>(v.Handle(), recorder::ui::kCommandOk); },
       false},
  };
  for (const Row& r : rows) {
    CVideoDlg view(nullptr);
    view.show();
    PostFrame(view.Handle());
    ASSERT_TRUE(view.Picture()->HasPicture()) << r.how;
    r.end(view);
    Deliver();  // the command, then the clearing record it posts
    Deliver();
    EXPECT_FALSE(view.isVisible()) << r.how;
    EXPECT_FALSE(platform::IsWindowVisible(view.Handle())) << r.how << ": workers see it hidden";
    EXPECT_EQ(view.Picture()->HasPicture(), r.keepsPicture) << r.how;
  }
}

TEST(VideoDlg, HiddenViewReportsNotVisibleAndShowsNoFrames) {
  CVideoDlg view(nullptr);
  EXPECT_FALSE(platform::IsWindowVisible(view.Handle())) << "hidden at creation";
  PostFrame(view.Handle());
  EXPECT_FALSE(view.Picture()->HasPicture()) << "a frame reaching a hidden view is not shown";
  view.ShowView();
  EXPECT_TRUE(platform::IsWindowVisible(view.Handle()));
  PostFrame(view.Handle());
  EXPECT_TRUE(view.Picture()->HasPicture());
  view.hide();
  EXPECT_FALSE(platform::IsWindowVisible(view.Handle()));
}

TEST(VideoDlg, Sizes) {
  CVideoDlg view(nullptr);
  EXPECT_EQ(view.size(), view.BaseSize() + QSize(320, 240)) << "grown about its centre at creation";
  EXPECT_EQ(view.minimumSize(), QSize(150, 150));
  view.resize(100, 400);
  EXPECT_EQ(view.size(), QSize(150, 400));
  view.RestoreBaseRect();
  EXPECT_EQ(view.size(), view.BaseSize());
  EXPECT_GE(view.MotionBar()->height(), 12);

  // A maximise request grows the window by 160 x 120 about its centre instead.
  view.show();
  const QRect before = view.geometry();
  view.setWindowState(Qt::WindowMaximized);
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_FALSE(view.isMaximized());
  EXPECT_EQ(view.geometry(), before.adjusted(-80, -60, 80, 60));
}

TEST(VideoDlg, SavedGridReachesTheMainWindowAsGridChanged) {
  platform::CollectingWindowTarget mainWindow;
  const platform::WindowHandle target = platform::RegisterWindow(&mainWindow);
  CVideoDlg view(nullptr);
  std::vector<uint8_t> grid(400, 0);
  grid[5] = 1;
  view.SetGrid(grid);
  view.SetGridTarget(target);
  view.Picture()->RunCommand(widgets::CPictureBox::kSaveGrid);
  std::vector<platform::Message> got = mainWindow.TakeAll();
  ASSERT_EQ(got.size(), 1u);
  ASSERT_TRUE(platform::Is<to_main_window::GridChanged>(got[0]));
  EXPECT_EQ(platform::WindowHandle(got[0].lParam), view.Handle()) << "the controller finds the row by this handle";
  EXPECT_EQ(platform::Take<to_main_window::GridChanged>(got[0]), grid);
  platform::UnregisterWindow(target);

  // A grid posted back to the view itself changes nothing.
  view.Picture()->RunCommand(widgets::CPictureBox::kClearGrid);
  platform::Post<to_main_window::GridChanged>(view.Handle(), 0, 0, grid);
  Deliver();
  EXPECT_EQ(view.Picture()->CopyGrid(), std::vector<uint8_t>(400, 0));
}

}  // namespace
