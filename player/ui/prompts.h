#pragma once
// The player's blocking questions: message boxes and file dialogs. The windows
// ask through this seam only, so tests can answer at once and read what was asked.
#include <QString>
#include <QStringList>

class QWidget;

namespace player::ui {

enum class BoxIcon { Information, Exclamation, Error };

// A file dialog as the player asks for one.
struct FileRequest {
  bool save = false;      // else an open-file dialog for an existing file
  QString title;          // empty: the platform's own ("Open", "Save As")
  QString filter;         // in the form "Text|pattern|Text|pattern||"
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

// "MJPG Files (*.mjpg)|*.mjpg|All Files (*.*)|*.*||" as the name filters of a
// file dialog: {"MJPG Files (*.mjpg)", "All Files (*.*)"}. A text without its
// pattern in parentheses gets it appended.
QStringList NameFilters(const QString& filter);

}  // namespace player::ui
