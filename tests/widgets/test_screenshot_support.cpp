#include "widgets/screenshot_support.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QWidget>
#include <sstream>

#include "tests/test_support.h"

namespace {

TEST(ScreenshotSupportTest, SettleUntilTellsWhetherDoneHeld) {
  EXPECT_TRUE(widgets::SettleUntil([] { return true; }, 0));
  EXPECT_FALSE(widgets::SettleUntil([] { return false; }, 0, 20));
}

TEST(ScreenshotSupportTest, WindowsGetATitleBarAndMenusAndChildrenDoNot) {
  QWidget window;
  window.resize(120, 80);
  window.setWindowTitle("Caption");
  QLabel child("text", &window);
  child.resize(40, 20);
  const QSize bare = window.grab().deviceIndependentSize().toSize();
  const QSize framed = widgets::WithCaption(&window).deviceIndependentSize().toSize();
  EXPECT_EQ(framed.width(), bare.width() + 2);
  EXPECT_EQ(framed.height(), bare.height() + window.fontMetrics().height() + 10 + 1);
  EXPECT_EQ(widgets::WithCaption(&child).deviceIndependentSize().toSize(), QSize(40, 20));
  QMenu menu;
  menu.addAction("Item");
  EXPECT_EQ(widgets::WithCaption(&menu).deviceIndependentSize(), menu.grab().deviceIndependentSize());
}

TEST(ScreenshotSupportTest, ShooterWritesNamedPngsAndTellsTheirPaths) {
  test_support::ScopedTempDir dir;
  std::ostringstream out, err;
  widgets::ScreenshotShooter shooter("prog", dir.Path() + ".", out, err);
  QWidget window;
  window.resize(50, 30);
  shooter.Shoot(&window, "window");
  const std::string path = dir.Path() + "./window.png";
  EXPECT_EQ(out.str(), path + "\n");
  EXPECT_EQ(err.str(), "");
  EXPECT_FALSE(shooter.failed());
  EXPECT_EQ(QImage(QString::fromStdString(path)).size(), window.grab().size());
}

TEST(ScreenshotSupportTest, ShooterTellsFailuresWithTheProgramName) {
  test_support::ScopedTempDir dir;
  std::ostringstream out, err;
  widgets::ScreenshotShooter shooter("prog", dir.Path("missing"), out, err, /*framed=*/true);
  QWidget window;
  window.resize(50, 30);
  shooter.Shoot(&window, "window", /*settle=*/false);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "prog: could not write " + dir.Path("missing") + "/window.png\n");
  EXPECT_TRUE(shooter.failed());
  shooter.Fail("more");
  EXPECT_NE(err.str().find("prog: more\n"), std::string::npos);
}

}  // namespace
