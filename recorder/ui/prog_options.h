#pragma once
// "Program Options": start at log-on (the autostart entry), the log file option,
// and the settings of unattended use (free share, offline time, event command).
#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

#include "recorder/camera/program_settings.h"

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

  // For tests and screenshots.
  void SetBoxes(bool autostart, bool logToFile);
  bool AutostartTicked() const;

 private:
  std::unique_ptr<Ui::ProgOptions> ui_;
  int32_t logToFile_;
  camera::ProgramSettings unattended_;
  std::string entryPath_;
  std::string programPath_;
};

}  // namespace recorder::ui
