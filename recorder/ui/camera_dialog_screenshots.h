#pragma once
// Renders the camera options' five pages and both source dialogs to PNG files,
// as they look when they open with a sample camera, for layout review offscreen.
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace recorder::ui {

// Writes camera-options-<page>.png, ip-camera-select.png, ip-camera-select-rtsp-failed.png and
// directx-camera-select.png into dir (which must exist). Returns the files
// written; a file that could not be written is missing from the list. `inspect`,
// when given, sees each dialog as rendered, with its file name.
using DialogInspector = std::function<void(const QString& fileName, QWidget& dialog)>;
QStringList SaveCameraDialogScreenshots(const QString& dir, const DialogInspector& inspect = {});

}  // namespace recorder::ui
