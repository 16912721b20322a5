#pragma once
// The recorder's icon: the desktop theme's camera icon, else one drawn here.
#include <QIcon>

namespace recorder::ui {
QIcon ProgramIcon();
}
