#pragma once
// "Program Options": start at log-on (the autostart entry), the log file option,
// and the settings of unattended use (free share, offline time, event command).
#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "recorder/camera/program_settings.h"
#include "recorder/web/serve_settings.h"

namespace Ui {
class ProgOptions;
}

namespace recorder::ui {

class CProgOptions : public QDialog {
 public:
  // Opening ticks the autostart box when the entry at entryPath is current for
  // programPath (a stale or foreign entry is deleted on the way).
  CProgOptions(QWidget* parent, int32_t logToFile, std::string entryPath, std::string programPath);
  ~CProgOptions() override;

  // Read back after OK.
  int32_t logToFile() const { return logToFile_; }
  // The settings of unattended use: shown by Set, read back after OK.
  void SetUnattended(const camera::ProgramSettings& settings);
  const camera::ProgramSettings& unattended() const { return unattended_; }

  // OK: a number out of range is refused with a message; otherwise both boxes and
  // the fields are read, the entry is written or deleted, the dialog ends.
  void accept() override;

  // Serving live pictures: shown with SetServeSettings, read back after OK. OK
  // refuses settings that cannot serve, telling why through refuse (a message box
  // unless a test sets another).
  void SetServeSettings(const web::ServeSettings& serve);
  const web::ServeSettings& serveSettings() const { return serve_; }
  std::function<void(const QString& why)> refuse;

  // For tests and screenshots.
  void SetBoxes(bool autostart, bool logToFile);
  bool AutostartTicked() const;

 private:
  std::unique_ptr<Ui::ProgOptions> ui_;
  int32_t logToFile_;
  camera::ProgramSettings unattended_;
  web::ServeSettings serve_;
  std::string entryPath_;
  std::string programPath_;
};

}  // namespace recorder::ui
