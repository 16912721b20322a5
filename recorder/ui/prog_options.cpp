#include "recorder/ui/prog_options.h"

#include <QRegularExpressionValidator>

#include "platform/ascii.h"
#include <QFileInfo>
#include <QMessageBox>

#include "recorder/app/autostart.h"
#include "recorder/ui/message_boxes.h"
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
  auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);
  ui_->keepFree->setValidator(digits);
  ui_->offlineAfter->setValidator(digits);
  SetUnattended(unattended_);
  refuse = [this](const QString& why) { QMessageBox::warning(this, windowTitle(), why); };
  SetServeSettings(serve_);
}

void CProgOptions::SetUnattended(const camera::ProgramSettings& settings) {
  unattended_ = settings;
  ui_->keepFree->setText(QString::number(settings.keepFreePercent));
  ui_->offlineAfter->setText(QString::number(settings.offlineAfterSeconds));
  ui_->onEvent->setText(QString::fromStdString(settings.onEventCommand));
}

void CProgOptions::SetServeSettings(const web::ServeSettings& serve) {
  serve_ = serve;
  ui_->serveGroup->setChecked(serve.enabled);
  web::ServeSettings shown = serve;
  shown.certFile.clear();
  shown.keyFile.clear();
  std::string address = shown.WallUrl();  // "http://ADDRESS:PORT/" without scheme and slash
  address = address.substr(address.find("//") + 2);
  address.pop_back();
  ui_->serveAddress->setText(QString::fromStdString(address));
  ui_->serveUser->setText(QString::fromStdString(serve.user));
  ui_->servePassword->setText(QString::fromStdString(serve.password));
  ui_->serveCert->setText(QString::fromStdString(serve.certFile));
  ui_->serveKey->setText(QString::fromStdString(serve.keyFile));
}

CProgOptions::~CProgOptions() = default;

void CProgOptions::accept() {
  camera::ProgramSettings settings;
  const struct {
    const char* name;
    QLineEdit* edit;
    int32_t* value;
  } numbers[] = {{"keep-free", ui_->keepFree, &settings.keepFreePercent},
                 {"offline-after", ui_->offlineAfter, &settings.offlineAfterSeconds}};
  for (const auto& n : numbers) {
    const std::string text = n.edit->text().trimmed().toStdString();
    std::string error;
    if (!camera::CheckProgramValue(*camera::FindProgramField(n.name), text, error)) {
      Tell(this, error.c_str(), "Program Options");
      n.edit->setFocus();
      return;
    }
    *n.value = static_cast<int32_t>(*platform::ascii::ParseWhole(text));
  }
  settings.onEventCommand = ui_->onEvent->text().trimmed().toStdString();
  std::string error;
  if (!camera::CheckProgramValue(*camera::FindProgramField("on-event"), settings.onEventCommand, error)) {
    Tell(this, error.c_str(), "Program Options");
    return;
  }
  unattended_ = settings;
  web::ServeSettings serve;
  serve.enabled = ui_->serveGroup->isChecked();
  serve.user = ui_->serveUser->text().trimmed().toStdString();
  serve.password = ui_->servePassword->text().toStdString();
  serve.certFile = ui_->serveCert->text().trimmed().toStdString();
  serve.keyFile = ui_->serveKey->text().trimmed().toStdString();
  std::string address = ui_->serveAddress->text().trimmed().toStdString();
  if (address.empty()) address = ui_->serveAddress->placeholderText().toStdString();
  std::string problem;
  if (serve.enabled && !web::ParseServeAddress(address, serve.address, serve.port, problem)) {
    problem = "Address: " + problem;
  } else if (problem = web::ServeSettingsProblem(serve); problem.empty() && serve.enabled) {
    for (const std::string* file : {&serve.certFile, &serve.keyFile})
      if (!file->empty() && !QFileInfo(QString::fromStdString(*file)).isReadable()) problem = "Cannot read " + *file;
  }
  if (!problem.empty()) {
    refuse(QString::fromStdString(problem));
    return;
  }
  serve_ = serve;
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
