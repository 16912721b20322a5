#pragma once
// Message boxes of the recorder's windows. They block until answered, so every
// window asks and tells through this one seam; tests put boxes in place that
// record the texts and answer at once.
#include <QString>

class QWidget;

namespace recorder::ui {

enum class BoxIcon { Exclamation, Error, Question, Information };

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // A message with an OK button.
  virtual void Tell(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon) = 0;
  // A question with Yes and No buttons and the question icon; true for Yes.
  virtual bool Ask(QWidget* parent, const QString& text, const QString& caption) = 0;
};

// The boxes in use: the standard ones unless a ScopedMessageBoxes put others in place.
MessageBoxes& CurrentMessageBoxes();

// Puts other boxes in place for its lifetime (GUI thread only; not nested across threads).
class ScopedMessageBoxes {
 public:
  explicit ScopedMessageBoxes(MessageBoxes& boxes);
  ~ScopedMessageBoxes();
  ScopedMessageBoxes(const ScopedMessageBoxes&) = delete;
  ScopedMessageBoxes& operator=(const ScopedMessageBoxes&) = delete;

 private:
  MessageBoxes* previous_;
};

// Shorthands over the current boxes, for texts kept as UTF-8 constants.
void Tell(QWidget* parent, const char* text, const char* caption, BoxIcon icon = BoxIcon::Exclamation);
bool Ask(QWidget* parent, const char* text, const char* caption);

}  // namespace recorder::ui
