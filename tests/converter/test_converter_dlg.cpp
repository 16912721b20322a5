// The converter window over the real conversion thread, offscreen; message boxes
// and the file dialog are answered by the test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QThread>
#include <filesystem>
#include <functional>

#include "converter/conversion.h"
#include "converter/conversion_thread.h"
#include "converter/ui/converter_dlg.h"
#include "tests/converter/converter_test_support.h"
#include "widgets/progress_ex.h"
#include "widgets/prompts.h"

namespace {

using namespace converter;
using namespace converter::ui;
using namespace converter_test;
using widgets::BoxIcon;
using widgets::FileRequest;
using widgets::Prompts;

struct Told {
  QString text, caption;
  BoxIcon icon;
};

class FakePrompts : public Prompts {
 public:
  void Tell(QWidget*, const QString& text, const QString& caption, BoxIcon icon) override {
    told.push_back({text, caption, icon});
  }
  QString ChooseFile(QWidget*, const FileRequest& request) override {
    asked.push_back(request);
    return answer;
  }
  std::vector<Told> told;
  std::vector<FileRequest> asked;
  QString answer;
};

// Lets the window handle what the thread posts until done() holds; the limit is
// only ever reached when something is broken.
bool WaitFor(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 60000) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return done();
}

std::vector<std::string> FilesIn(const test_support::ScopedTempDir& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder.Path(""))) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

void ExpectResult(const FakePrompts& prompts, int code) {
  ASSERT_EQ(prompts.told.size(), 1u);
  const ResultMessage* m = FindResultMessage(code);
  EXPECT_EQ(prompts.told[0].text.toStdString(), m->text);
  EXPECT_EQ(prompts.told[0].caption.toStdString(), m->caption);
  const BoxIcon icon = m->icon == ResultIcon::Information ? BoxIcon::Information
                       : m->icon == ResultIcon::Exclamation ? BoxIcon::Exclamation : BoxIcon::Error;
  EXPECT_EQ(prompts.told[0].icon, icon);
}

TEST(ConverterWindow, StartsWithTheTypesInOrderAndDerivesTheOutputFromInputAndType) {
  FakePrompts prompts;
  CConverterDlg window(&prompts);
  QStringList types;
  for (int i = 0; i < window.TypeList()->count(); ++i) types << window.TypeList()->itemText(i);
  EXPECT_EQ(types, QStringList({"Windows Media Video", "Divx", "I5V0", "MSVC", "MPEG4"}));
  EXPECT_EQ(window.TypeList()->currentIndex(), 0);
  // A type this system has no encoder for is listed but cannot be chosen; its
  // tooltip says why.
  const auto* model = qobject_cast<QStandardItemModel*>(window.TypeList()->model());
  ASSERT_NE(model, nullptr);
  for (int i = 0; i < window.TypeList()->count(); ++i) {
    const std::string why = WhyTypeCannotBeWritten(i);
    SCOPED_TRACE(types[i].toStdString());
    EXPECT_EQ(model->item(i)->isEnabled(), why.empty());
    EXPECT_EQ(window.TypeList()->itemData(i, Qt::ToolTipRole).toString().toStdString(), why);
  }
  EXPECT_EQ(window.FpsEdit()->text(), "10");
  EXPECT_FALSE(window.CancelButton()->isEnabled());
  EXPECT_EQ(window.ProgressBar()->GetRange(false), kFractionRange);

  const struct {
    const char* input;  // nullptr: chosen with the browse button
    const char* type;
    const char* typedOutput;
    const char* output;
  } cases[] = {
      {"/v/cam.mjpg", "Windows Media Video", "", "/v/cam.wmv"},
      {"/v/cam.mjpg", "Divx", "", "/v/cam.avi"},
      {"/v/cam.mjpg", "MPEG4", "", "/v/cam.mp4"},
      {"/v/cam.1.mjpg", "MSVC", "/typed.avi", "/v/cam.1.avi"},  // a typed output gives way
      {"/v/camera", "I5V0", "/typed.avi", "/typed.avi"},       // no '.': left alone
      {"/v.d/camera", "Divx", "/typed.avi", "/typed.avi"},     // a '.' in a folder only
      {nullptr, "Divx", "", "/chosen/yard.avi"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input ? c.input : "browse");
    window.TypeList()->setCurrentIndex(0);
    window.OutputEdit()->setText(c.typedOutput);
    if (c.input) {
      window.InputEdit()->setText(c.input);
    } else {
      prompts.answer = "/chosen/yard.mjpg";
      window.BrowseButton()->click();
      ASSERT_EQ(prompts.asked.size(), 1u);
      EXPECT_EQ(prompts.asked[0].title, "Select an MJPG Video File to Convert");
      EXPECT_EQ(prompts.asked[0].filter, "MJPG Video Files (*.mjpg)|*.mjpg|All Files (*.*)|*.*||");
      EXPECT_EQ(window.InputEdit()->text(), prompts.answer);
    }
    window.TypeList()->setCurrentText(c.type);
    EXPECT_EQ(window.OutputEdit()->text(), c.output);
  }
}

TEST(ConverterWindow, ConvertsARecordingThroughTheWindow) {
  FakePrompts prompts;
  test_support::ScopedTempDir folder{"converter"};
  WriteRecording(folder.Path("in.mjpg"), Frames(5));
  CConverterDlg window(&prompts);
  window.InputEdit()->setText(QString::fromStdString(folder.Path("in.mjpg")));
  window.TypeList()->setCurrentText("Divx");
  window.ConvertButton()->click();
  EXPECT_TRUE(window.Converting());
  for (QWidget* w : std::initializer_list<QWidget*>{window.InputEdit(), window.BrowseButton(), window.OutputEdit(),
                                                    window.TypeList(), window.FpsEdit(), window.ConvertButton()})
    EXPECT_FALSE(w->isEnabled());
  EXPECT_TRUE(window.CancelButton()->isEnabled());

  ASSERT_TRUE(WaitFor([&] { return !window.Converting(); }));
  ExpectResult(prompts, kResultComplete);
  EXPECT_TRUE(window.ConvertButton()->isEnabled());
  EXPECT_FALSE(window.CancelButton()->isEnabled());
  EXPECT_EQ(window.ProgressBar()->GetPos(), kFractionRange);
  EXPECT_EQ(FrameCount(folder.Path("in.avi"), folder), 5);
}

TEST(ConverterWindow, AnOutputThatIsTheInputIsRefusedWithNothingTouched) {
  FakePrompts prompts;
  test_support::ScopedTempDir folder{"converter"};
  WriteRecording(folder.Path("in.mjpg"), Frames(3));
  const std::string before = test_support::ReadFile(folder.Path("in.mjpg"));
  CConverterDlg window(&prompts);
  window.InputEdit()->setText(QString::fromStdString(folder.Path("in.mjpg")));
  window.OutputEdit()->setText(QString::fromStdString(folder.Path("./in.mjpg")));
  window.ConvertButton()->click();
  EXPECT_FALSE(window.Converting());
  ExpectResult(prompts, kResultSameFile);
  EXPECT_EQ(test_support::ReadFile(folder.Path("in.mjpg")), before);
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"in.mjpg"});
}

// Cancel keeps the window with result 5; closing it ends the program without a
// message, after the thread has finished the output. Either way the file plays.
TEST(ConverterWindow, CancelAndCloseDuringAConversion) {
  const struct {
    const char* name;
    bool close;
    std::vector<int> results;
  } cases[] = {{"cancel", false, {kResultCanceled}}, {"close", true, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakePrompts prompts;
    test_support::ScopedTempDir folder{"converter"};
    WriteRecording(folder.Path("in.mjpg"), Frames(300));
    CConverterDlg window(&prompts);
    int ended = 0;
    QObject::connect(&window, &QDialog::finished, [&ended] { ++ended; });
    window.show();
    window.InputEdit()->setText(QString::fromStdString(folder.Path("in.mjpg")));
    window.ConvertButton()->click();
    if (c.close) {
      window.close();
      EXPECT_TRUE(window.isVisible());  // stays until the output is finished
      EXPECT_TRUE(window.Closing());
    } else {
      window.CancelButton()->click();
    }
    ASSERT_TRUE(WaitFor([&] { return !window.Converting() && (!c.close || ended == 1); }));
    if (c.results.empty()) {
      EXPECT_TRUE(prompts.told.empty());
    } else {
      ExpectResult(prompts, c.results[0]);
    }
    EXPECT_EQ(window.isVisible(), !c.close);
    const int frames = FrameCount(folder.Path("in.wmv"), folder);
    EXPECT_GE(frames, 1);
    EXPECT_LT(frames, 300);
  }
}

}  // namespace
