#include "widgets/prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <memory>

namespace widgets {

namespace {

QMessageBox::Icon ToQt(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Information: return QMessageBox::Information;
    case BoxIcon::Exclamation: return QMessageBox::Warning;
    case BoxIcon::Error: return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

class Standard : public Prompts {
 public:
  void Tell(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon) override {
    std::unique_ptr<QMessageBox> box(CreateMessageBox(parent, text, caption, icon));
    box->exec();
  }

  QString ChooseFile(QWidget* parent, const FileRequest& request) override {
    QFileDialog dialog(parent, request.title, request.directory);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(NameFilters(request.filter));
    if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.suggestedName.isEmpty()) dialog.selectFile(request.suggestedName);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.front();
  }
};

}  // namespace

Prompts& StandardPrompts() {
  static Standard standard;
  return standard;
}

QMessageBox* CreateMessageBox(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon) {
  return new QMessageBox(ToQt(icon), caption, text, QMessageBox::Ok, parent);
}

QStringList NameFilters(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& text = parts[i];
    if (text.isEmpty()) break;  // the closing "||"
    // On Linux "*.*" would hide files without a dot; every file is meant.
    QString pattern = parts[i + 1];
    pattern.replace("*.*", "*");
    QString shown = text;
    shown.replace("(*.*)", "(*)");
    filters << (shown.contains('(') ? shown : shown + " (" + pattern + ")");
  }
  return filters;
}

}  // namespace widgets
