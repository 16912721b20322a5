#pragma once
// The player window "Velmo": the picture, the position bar that seeks, the time
// and size labels, the transport buttons, the frame delay, the picture's context
// menu of edits, the edit progress dialog and the ordered shutdown.
//
// The window only turns buttons, menu commands and clicks into messages to the
// playback thread (player::to_video_thread) and the thread's messages
// (player::to_player_window) into the play button, message boxes, file dialogs
// and the caption. The thread keeps the picture, the position bar and the labels
// current through their own window handles.
#include <QDialog>
#include <QPoint>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/message.h"
#include "platform/message_thread.h"
#include "player/messages.h"
#include "player/video_thread.h"

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace Ui {
class PlayerDlg;
}
namespace platform {
class QtWindowTarget;
}
namespace widgets {
class CPictureBox;
class CProgressEx;
class Prompts;
}  // namespace widgets

namespace player::ui {

class CCopyDlg;
using widgets::Prompts;

// Menu command ids.
enum PlayerCommand : int {
  kCmdSetWindow640x480 = 149,
  kCmdSaveFrame = 150,
  kCmdMarkStart = 151,
  kCmdMarkEnd = 152,
  kCmdExtract = 153,
  kCmdRemove = 154,
  kCmdAppend = 155,
  // The window menu (a right-click beside the picture): the window's own
  // commands, with About at the top.
  kCmdAbout = 0x10,
  kCmdMinimize = 0xF020,
  kCmdMaximize = 0xF030,
  kCmdClose = 0xF060,
  kCmdRestore = 0xF120,
};

// Makes a playback thread, suspended; the window resumes it.
using VideoThreadFactory = std::function<platform::ThreadHandlePtr(VideoThreadSetup)>;

struct PlayerDlgOptions {
  Prompts* prompts = nullptr;        // null: the standard message boxes and file dialogs
  VideoThreadFactory threadFactory;  // empty: CVideoThread::Create
};

class CPlayerDlg : public QDialog {
 public:
  struct MenuEntry {
    QString text;  // empty for a separator
    int id = 0;    // 0 for a separator
    bool operator==(const MenuEntry&) const = default;
  };

  // The smallest window the user can drag.
  static constexpr int kMinimumWidth = 385, kMinimumHeight = 380;
  // What a maximise request adds, about the window's centre.
  static constexpr int kGrowWidth = 160, kGrowHeight = 120;
  // The picture's size after start-up and "Set Window to 640x480".
  static constexpr int kFitWidth = 640, kFitHeight = 480;

  explicit CPlayerDlg(PlayerDlgOptions options = {});
  ~CPlayerDlg() override;

  // The end of start-up: a file given on the command line starts playing (its
  // path exactly as given), the picture is fitted to 640 x 480 and the window
  // shown in the middle of the screen.
  void Start(const std::string& path = {});
  // Starts a playback thread for the file and names it in the caption.
  void StartFile(const std::string& path);

  // "Velmo - " and the file name: the path after its last '/', trailing '/'
  // removed first; "Velmo" for an empty path.
  static QString CaptionFor(const std::string& path);

  platform::WindowHandle Handle() const;
  // The playback thread; 0 when no file is open.
  platform::ThreadId ThreadId() const { return threadId_; }
  // The play button shows pause while the thread plays.
  bool ShowsPlaying() const { return playing_; }
  // The window's size before the picture was first fitted; Restore returns to it.
  QSize FirstSize() const { return firstSize_; }

  widgets::CPictureBox* Picture() const;
  widgets::CProgressEx* PositionBar() const;
  QLabel* TimeLabel() const;
  QLabel* SizeLabel() const;
  QPushButton* PlayButton() const;
  QPushButton* StopButton() const;
  QPushButton* PreviousButton() const;
  QPushButton* NextButton() const;
  QLineEdit* DelayEdit() const;
  QPushButton* ApplyButton() const;
  CCopyDlg* CopyDialog() const { return copyDlg_; }
  // The picture's context menu and the window menu, as they pop up.
  QMenu* ContextMenu() const { return contextMenu_; }
  QMenu* WindowMenu() const { return windowMenu_; }
  std::vector<MenuEntry> ContextMenuEntries() const;
  std::vector<MenuEntry> WindowMenuEntries() const;

  // Carries out a menu command; unknown ids do nothing.
  void RunCommand(int id);
  // Resizes the window so the picture is exactly 640 x 480, centred on the screen.
  void FitPicture();
  // Back to the first size, centred on the screen.
  void RestoreFirstSize();
  // The close request: the edit progress dialog goes, every playback thread is
  // stopped in order on a thread of its own, and 100 ms after that the dialog ends.
  void RequestClose();

  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void HandleMessage(platform::Message& msg);
  void SetupControls();
  QMenu* BuildMenu(const std::vector<MenuEntry>& entries);
  void Play();
  template <class Tag>
  void PostToThread(intptr_t wParam = 0);
  void ApplyDelay();
  int32_t DelayValue() const;
  void ShowPlaying(bool playing);
  void ShowNotice(int code, const std::string& reason = {});
  void ChooseEditFiles(EditOp op);
  std::string ChooseMjpg(bool save, const char* title);
  void SaveCurrentFrame();
  void SetCopying(bool copying);
  void ThreadClosed();
  void CentreOnScreen();
  void ShowAbout();

  PlayerDlgOptions options_;
  Prompts* prompts_;
  std::unique_ptr<Ui::PlayerDlg> ui_;
  platform::QtWindowTarget* target_ = nullptr;
  platform::QtWindowTarget* barTarget_ = nullptr;
  platform::QtWindowTarget* timeTarget_ = nullptr;
  platform::QtWindowTarget* sizeTarget_ = nullptr;
  CCopyDlg* copyDlg_ = nullptr;
  QMenu* contextMenu_ = nullptr;
  QMenu* windowMenu_ = nullptr;
  platform::ThreadId threadId_ = 0;
  bool playing_ = false;
  QSize firstSize_;
  bool closing_ = false;
  std::thread shutdown_;
};

}  // namespace player::ui
