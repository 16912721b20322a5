#include "player/ui/control_targets.h"

#include <QLabel>

#include "player/messages.h"
#include "widgets/progress_ex.h"

namespace player::ui {

platform::QtWindowTarget* AttachTarget(QLabel* label) {
  return new platform::QtWindowTarget(label, [label](platform::Message& msg) {
    if (const std::string* text = platform::Peek<to_control::SetText>(msg)) label->setText(QString::fromStdString(*text));
  });
}

platform::QtWindowTarget* AttachTarget(widgets::CProgressEx* bar) {
  return new platform::QtWindowTarget(bar, [bar](platform::Message& msg) {
    if (platform::Is<to_control::SetPosition>(msg)) {
      bar->SetPos(int32_t(msg.wParam));
    } else if (platform::Is<to_control::SetRange32>(msg)) {
      bar->SetRange(int32_t(msg.wParam), int32_t(msg.lParam));
    } else if (const std::string* text = platform::Peek<to_control::SetText>(msg)) {
      bar->SetText(QString::fromStdString(*text));
    }
  });
}

}  // namespace player::ui
