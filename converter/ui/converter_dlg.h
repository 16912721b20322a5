#pragma once
// The converter window "Brandle": the input file with its browse button, the
// output file, the video type, the frame rate, the note, Convert and Cancel,
// and the progress of the conversion running.
//
// The window only gathers what the user chose, starts a CConversionThread with
// it and turns the thread's messages (converter::to_converter_window) into the
// progress bar, the enabled state of its controls and the result's message box.
// Closing the window during a conversion lets the thread finish the output after
// its current frame; the program ends when the thread has ended.
#include <QDialog>
#include <QString>
#include <memory>

#include "platform/message.h"
#include "platform/message_thread.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;

namespace Ui {
class ConverterDlg;
}
namespace platform {
class QtWindowTarget;
}
namespace widgets {
class CProgressEx;
class Prompts;
}

namespace converter::ui {

using widgets::Prompts;

constexpr const char* kBrowseTitle = "Select an MJPG Video File to Convert";
constexpr const char* kBrowseFilter = "MJPG Video Files (*.mjpg)|*.mjpg|All Files (*.*)|*.*||";

class CConverterDlg : public QDialog {
 public:
  // The delay between the end of the last conversion and the end of the program
  // when the user asked for that end.
  static constexpr int kEndDelayMs = 100;

  // prompts: null for the standard message boxes and file dialogs.
  explicit CConverterDlg(Prompts* prompts = nullptr);
  // A conversion still running is stopped after its current frame and waited for,
  // so the output is a finished file.
  ~CConverterDlg() override;

  platform::WindowHandle Handle() const;
  bool Converting() const { return converting_; }
  bool Closing() const { return closing_; }

  QLineEdit* InputEdit() const;
  QPushButton* BrowseButton() const;
  QLineEdit* OutputEdit() const;
  QComboBox* TypeList() const;
  QLineEdit* FpsEdit() const;
  QLabel* Note() const;
  QPushButton* ConvertButton() const;
  QPushButton* CancelButton() const;
  widgets::CProgressEx* ProgressBar() const;
  QMenu* HelpMenu() const { return helpMenu_; }
  QAction* AboutAction() const { return aboutAction_; }

  // Convert: starts a conversion of what the controls say.
  void StartConversion();
  // Cancel: the conversion stops after its current frame with result 5.
  void CancelConversion();
  // The input browse button.
  void BrowseInput();
  void ShowAbout();
  // The session asks whether the program may end: always yes; a conversion
  // running finishes its output first.
  void SessionEnding();

  // Close box, Escape: during a conversion only ask for the end of the program.
  void reject() override;
  void accept() override;

 private:
  void HandleMessage(platform::Message& msg);
  void SetupControls();
  void DeriveOutput();
  void EnableInputs(bool enable);
  void ConversionEnded(bool endProgram);
  void RequestEnd();
  void EndProgramSoon();
  void ShowResult(int code, const std::string& detail = {});

  Prompts* prompts_;
  std::unique_ptr<Ui::ConverterDlg> ui_;
  platform::QtWindowTarget* target_ = nullptr;
  QMenuBar* menuBar_ = nullptr;
  QMenu* helpMenu_ = nullptr;
  QAction* aboutAction_ = nullptr;
  platform::ThreadHandlePtr thread_;
  bool converting_ = false;
  bool closing_ = false;
  bool ending_ = false;
  int result_ = -1;  // the result of the conversion running, shown when it has ended
  std::string resultDetail_;
};

}  // namespace converter::ui
