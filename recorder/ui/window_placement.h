#pragma once
// Where a recorder window opens: over its owner when the owner is on screen, and
// always with its whole frame (title bar first) inside the screen's free area, so
// the user can see it and drag it.
#include <QRect>
#include <QSize>

class QWidget;

namespace recorder::ui {

// The frame rectangle for a window of this size: centred over the owner's frame
// (an invalid rectangle: over the free area), then moved inside the free area.
// A window larger than the area keeps its top-left corner in it.
QRect PlacedFrame(QSize frame, const QRect& owner, const QRect& available);

// The owner a window opens over: its parent's window when that is shown,
// else the nearest shown window above that, else none.
QWidget* ShownOwner(const QWidget* window);

// Places the window by PlacedFrame over its shown owner, on that owner's screen.
void PlaceOverOwner(QWidget* window);

// Places the window each time it is about to be shown for the first time.
void PlaceOnFirstShow(QWidget* window);

}  // namespace recorder::ui
