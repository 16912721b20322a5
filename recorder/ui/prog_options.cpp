#include "recorder/ui/prog_options.h"

#include "recorder/app/autostart.h"
#include "recorder/ui/window_placement.h"
#include <ui_prog_options.h>

namespace recorder::ui {

CProgOptions::CProgOptions(QWidget* parent, int32_t logToFile, std::string entryPath, std::string programPath)
    : QDialog(parent),
      ui_(std::make_unique<Ui::ProgOptions>()),
      logToFile_(logToFile ? 1 : 0),
      entryPath_(std::move(entryPath)),
      programPath_(std::move(programPath)) {
  ui_->setupUi(this);
  PlaceOnFirstShow(this);
  connect(ui_->ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->cancel, &QPushButton::clicked, this, &QDialog::reject);
  ui_->autostart->setChecked(app::CheckAutostartEntry(entryPath_, programPath_));
  ui_->logToFile->setChecked(logToFile_ != 0);
}

CProgOptions::~CProgOptions() = default;

void CProgOptions::accept() {
  logToFile_ = ui_->logToFile->isChecked() ? 1 : 0;
  // Written on every OK, changed or not; a failure leaves the box's wish unmet
  // without a message, as the entry is only a convenience.
  app::WriteAutostartEntry(entryPath_, programPath_, ui_->autostart->isChecked());
  QDialog::accept();
}

void CProgOptions::SetBoxes(bool autostart, bool logToFile) {
  ui_->autostart->setChecked(autostart);
  ui_->logToFile->setChecked(logToFile);
}

bool CProgOptions::AutostartTicked() const { return ui_->autostart->isChecked(); }

}  // namespace recorder::ui
