#pragma once
// The process-wide list of open dialogs. The camera options and source dialogs
// enter it when they open and leave it when destroyed; the program's shutdown
// cancels whatever is still open, so no modal loop outlives the main window.
// GUI thread only.
#include <cstddef>

class QDialog;

namespace recorder::ui {

class OpenDialogs {
 public:
  // Adding a dialog that is already listed changes nothing.
  static void Add(QDialog* dialog);
  static void Remove(QDialog* dialog);
  // Rejects every listed dialog, the last added first (inner modal loops end
  // before the ones that opened them).
  static void CancelAll();
  static size_t Count();
};

}  // namespace recorder::ui
