#pragma once
// The windows' blocking questions: message boxes and file dialogs. A window asks
// through this seam only, so tests can answer at once and read what was asked,
// and screenshots can render a box instead of waiting.
#include <QString>
#include <QStringList>

class QMessageBox;
class QWidget;

namespace widgets {

enum class BoxIcon { Information, Exclamation, Error };

// A file dialog as a window asks for one.
struct FileRequest {
  bool save = false;      // else an open-file dialog for an existing file
  QString title;          // empty: the platform's own ("Open", "Save As")
  QString filter;         // in the form "Text (*.x)|*.x|Text|pattern||"
  QString directory;      // where the dialog starts; empty: the platform's choice
  QString suggestedName;  // the name filled in at first
  QString defaultSuffix;  // added to a typed name without one; empty: none
};

class Prompts {
 public:
  virtual ~Prompts() = default;
  // A message with an OK button.
  virtual void Tell(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon) = 0;
  // The chosen path; empty when the dialog was cancelled. Save dialogs ask
  // before an existing file is overwritten and accept only existing folders.
  virtual QString ChooseFile(QWidget* parent, const FileRequest& request) = 0;
};

// The standard message boxes and file dialogs.
Prompts& StandardPrompts();

// The message box Tell shows, owned by parent; the caller opens or renders it.
QMessageBox* CreateMessageBox(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon);

// "MJPG Video Files (*.mjpg)|*.mjpg|All Files (*.*)|*.*||" as the name filters of
// a file dialog: {"MJPG Video Files (*.mjpg)", "All Files (*)"}. A text without
// its pattern in parentheses gets it appended; "*.*" means every file, dotted or not.
QStringList NameFilters(const QString& filter);

}  // namespace widgets
