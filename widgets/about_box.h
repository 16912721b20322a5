#pragma once
// The programs' About boxes: the program's icon, its texts and OK; and the
// drawing of a program icon for desktops whose theme has none.
#include <QIcon>
#include <QString>
#include <functional>

class QDialog;
class QPainter;
class QWidget;

namespace widgets {

// An icon of 16, 32, 48 and 64 pixels a side, each drawn by draw on a clear
// square with antialiasing and no pen; u is a sixteenth of the side.
QIcon DrawIcon(const std::function<void(QPainter& p, double u)>& draw);

// A dialog titled title: icon at 32 pixels beside text, OK under them; fixed to
// its contents' size. Owned by parent; the caller opens or renders it.
QDialog* CreateAboutBox(QWidget* parent, const QString& title, const QIcon& icon, const QString& text);

}  // namespace widgets
