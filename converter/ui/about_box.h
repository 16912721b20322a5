#pragma once
// The converter's icon and its About box: the icon, the program's name, a
// version line and OK.
#include <QIcon>

class QDialog;
class QWidget;

namespace converter::ui {

// The desktop theme's video icon, else one drawn here.
QIcon ConverterIcon();

// Owned by parent; the caller opens or renders it.
QDialog* CreateAboutBox(QWidget* parent);

}  // namespace converter::ui
