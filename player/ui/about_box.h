#pragma once
// The player's icon and its About box: the icon, the program's name, a version
// line and OK.
#include <QIcon>

class QDialog;
class QWidget;

namespace player::ui {

// The desktop theme's video player icon, else one drawn here.
QIcon PlayerIcon();

// "Velmo Version 2.0.1"
QString AboutVersionText();

// Owned by parent; the caller opens or renders it.
QDialog* CreateAboutBox(QWidget* parent);

}  // namespace player::ui
