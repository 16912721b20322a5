#include "recorder/ui/message_boxes.h"

#include <QMessageBox>

namespace recorder::ui {

namespace {

QMessageBox::Icon ToQt(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Exclamation: return QMessageBox::Warning;
    case BoxIcon::Error: return QMessageBox::Critical;
    case BoxIcon::Question: return QMessageBox::Question;
    case BoxIcon::Information: return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

class StandardBoxes : public MessageBoxes {
 public:
  void Tell(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon) override {
    QMessageBox box(ToQt(icon), caption, text, QMessageBox::Ok, parent);
    box.exec();
  }
  bool Ask(QWidget* parent, const QString& text, const QString& caption) override {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
  }
};

MessageBoxes*& Current() {
  static StandardBoxes standard;
  static MessageBoxes* current = &standard;
  return current;
}

}  // namespace

MessageBoxes& CurrentMessageBoxes() { return *Current(); }

ScopedMessageBoxes::ScopedMessageBoxes(MessageBoxes& boxes) : previous_(Current()) { Current() = &boxes; }
ScopedMessageBoxes::~ScopedMessageBoxes() { Current() = previous_; }

void Tell(QWidget* parent, const char* text, const char* caption, BoxIcon icon) {
  CurrentMessageBoxes().Tell(parent, QString::fromUtf8(text), QString::fromUtf8(caption), icon);
}

bool Ask(QWidget* parent, const char* text, const char* caption) {
  return CurrentMessageBoxes().Ask(parent, QString::fromUtf8(text), QString::fromUtf8(caption));
}

}  // namespace recorder::ui
