#include "recorder/ui/open_dialogs.h"

#include <QDialog>
#include <QPointer>
#include <algorithm>
#include <vector>

namespace recorder::ui {

namespace {

std::vector<QPointer<QDialog>>& List() {
  static std::vector<QPointer<QDialog>> list;
  return list;
}

}  // namespace

void OpenDialogs::Add(QDialog* dialog) {
  auto& list = List();
  if (dialog != nullptr && std::find(list.begin(), list.end(), dialog) == list.end()) list.emplace_back(dialog);
}

void OpenDialogs::Remove(QDialog* dialog) {
  auto& list = List();
  // Entries whose dialog is already gone go as well.
  list.erase(std::remove_if(list.begin(), list.end(), [dialog](const QPointer<QDialog>& p) { return p.isNull() || p == dialog; }),
             list.end());
}

void OpenDialogs::CancelAll() {
  // A copy: rejecting may destroy a dialog, which removes it from the list.
  const std::vector<QPointer<QDialog>> open = List();
  for (auto it = open.rbegin(); it != open.rend(); ++it)
    if (!it->isNull()) (*it)->reject();
}

size_t OpenDialogs::Count() {
  Remove(nullptr);
  return List().size();
}

}  // namespace recorder::ui
