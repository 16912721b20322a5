#pragma once
// The recorder's main window "Tollan": the camera list over the camera controller,
// its context menu, the live view of every camera, the tray icon, and the ordered
// shutdown. Rules live in the controller; this class draws and forwards.
#include <QWidget>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/message.h"
#include "recorder/app/camera_controller.h"
#include "recorder/app/live_serving.h"
#include "recorder/ui/cam_sel_ip_dlg.h"

class QMenu;
class QMessageBox;
class QMenuBar;

namespace platform {
class QtWindowTarget;
}
namespace widgets {
class CListCtrlEx;
}

namespace recorder::ui {

class CLogView;
class CTrayIcon;
class CVideoDlg;

// Context menu command ids.
enum MainCommand : int {
  kCmdProgramOptions = 150,
  kCmdAddIpCamera = 151,
  kCmdAddLocalCamera = 152,
  kCmdViewSelected = 160,
  kCmdEditSelected = 161,
  kCmdDeleteSelected = 162,
  kCmdResumeSelected = 163,
  kCmdStartSelected = 164,
  kCmdStopSelected = 165,
  kCmdResumeAll = 166,
  kCmdStartAll = 167,
  kCmdStopAll = 168,
  kCmdViewLog = 169,
  kCmdAbout = 16,
};

// The answers to "this start would empty a recording that holds frames".
enum class CutAnswer { Cancel, StartAnew, Resume };
// That question: "Start Anew" has the destructive role, "Resume (Append)" (the
// default) the accept role, and Cancel.
std::unique_ptr<QMessageBox> CreateCutQuestion(QWidget* parent, const QString& file, int64_t frames);

// Questions and notices that block; tests answer them without a window.
struct MainWindowPrompts {
  std::function<bool(QWidget* parent)> confirmDelete;  // Yes = true
  std::function<CutAnswer(QWidget* parent, const QString& file, int64_t frames)> confirmCut;
  std::function<void(QWidget* parent, const QString& text, const QString& caption)> error;
};

struct MainWindowOptions {
  std::string settingsPath;
  std::string logFilePath;
  std::string autostartEntryPath;  // the XDG autostart file
  std::string programPath;         // what the autostart entry starts
  bool hiddenStart = false;        // "-m": stay hidden, resume every camera 30 s later
  int hiddenResumeMs = 30000;
  app::WorkerFactory workerFactory;  // empty: the real workers
  MainWindowPrompts prompts;         // empty members: message boxes
};

class CMainWindow : public QWidget {
 public:
  explicit CMainWindow(MainWindowOptions options);
  ~CMainWindow() override;

  // Loads the settings file, makes a live view per camera, starts the log thread,
  // creates the tray icon; shows the window unless the start is hidden.
  void Start();

  platform::WindowHandle Handle() const;
  app::CameraController& controller() { return *controller_; }
  // Live pictures over HTTP, as the program settings ask; null before Start().
  const app::LiveServing* serving() const { return serving_.get(); }
  widgets::CListCtrlEx& list() { return *list_; }
  CLogView* logView() const { return logView_.get(); }
  CVideoDlg* LiveViewOf(size_t row) const;

  // The context menu as it would open now: (text, command id) rows, a separator
  // as ("", 0).
  std::vector<std::pair<QString, int>> MenuEntries() const;
  // Runs a command of the context menu (or of the tray: Restore, Exit).
  void RunCommand(int command);
  void Restore();
  // The ordered shutdown: tray icon and windows go, dialogs are cancelled, workers
  // and the log thread are stopped, then the application quits.
  void Exit();
  // The same, waiting on this thread (session end, quitting without Exit).
  void ShutdownNow();
  bool HiddenResumePending() const { return resumeTimer_.isActive(); }
  // Milliseconds until the hidden start resumes every camera; -1 when none is pending.
  int HiddenResumeLeftMs() const { return resumeTimer_.isActive() ? resumeTimer_.remainingTime() : -1; }
  static constexpr int kPropertiesCloseMs = 1000;

  // Double click on a row: show a hidden or minimised live view of a running camera,
  // else edit the camera.
  void ActivateRow(int row);

  // Adds a camera of the type through the options dialog. A non-null record skips
  // the dialog (tests, screenshots).
  void AddCamera(int32_t cameraType, std::unique_ptr<camera::CameraRecord> ready = nullptr);
  void EditSelected();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnMessage(platform::Message& msg);
  void OnRowEvent(const app::RowEvent& event);
  void FillRow(int row);
  void FitColumns();
  // Start (anew) of these rows, in this order: each that is not running, after
  // asking when it would empty a recording that holds frames.
  void StartAnew(const std::vector<size_t>& rows);
  CVideoDlg* CreateLiveView(size_t row);
  void ApplyLiveViewSettings(size_t row);
  std::vector<size_t> SelectedRows() const;
  void DeleteSelected();
  void ShowProgramOptions();
  void ShowAbout();
  void ShowContextMenu(const QPoint& globalPos);
  void OnListSorted();
  // Exit from cancelling the open dialogs on.
  void FinishExit();
  // Source dialogs start their preview workers through the controller, which
  // registers them so that the shutdown waits for them.
  SnapshotStarter Starter();

  MainWindowOptions options_;
  std::unique_ptr<platform::QtWindowTarget> target_;
  std::unique_ptr<app::CameraController> controller_;
  std::unique_ptr<app::LiveServing> serving_;  // before the controller goes
  QMenuBar* menuBar_ = nullptr;
  widgets::CListCtrlEx* list_ = nullptr;
  std::unique_ptr<CLogView> logView_;
  std::unique_ptr<CTrayIcon> tray_;
  std::map<platform::WindowHandle, std::unique_ptr<CVideoDlg>> liveViews_;
  QTimer resumeTimer_;
  bool showAllowed_ = true;
  bool shuttingDown_ = false;
  bool shutDown_ = false;
};

}  // namespace recorder::ui
