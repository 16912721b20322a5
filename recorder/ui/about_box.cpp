#include "recorder/ui/about_box.h"

#include "recorder/ui/program_icon.h"
#include "widgets/about_box.h"

namespace recorder::ui {

QDialog* CreateAboutBox(QWidget* parent) {
  return widgets::CreateAboutBox(parent, "About Tollan", ProgramIcon(), kAboutText);
}

}  // namespace recorder::ui
