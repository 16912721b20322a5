#include "recorder/ui/device_properties_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "platform/qt/qt_window.h"
#include "recorder/ui/open_dialogs.h"
#include "recorder/ui/window_placement.h"

namespace recorder::ui {

using capture::DeviceControl;

CDevicePropertiesDlg::CDevicePropertiesDlg(capture::DevicePropertiesRequest request, QWidget* parent)
    : QDialog(parent), request_(std::move(request)) {
  setWindowTitle(capture::kPropertiesWindowTitle);
  PlaceOnFirstShow(this);
  target_ = new platform::QtWindowTarget(this, [this](platform::Message& msg) {
    // The worker is ending: nothing is left to set.
    if (platform::Is<capture::to_properties_window::CloseProperties>(msg)) reject();
  });

  auto* group = new QGroupBox("Video Capture", this);
  auto* form = new QFormLayout(group);
  for (const DeviceControl& c : request_.controls) {
    values_[c.id] = c.value;
    const QString name = QString::fromStdString(c.name);
    QWidget* editor = nullptr;
    switch (c.kind) {
      case DeviceControl::Kind::Slider: {
        auto* row = new QWidget(group);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* slider = new QSlider(Qt::Horizontal, row);
        slider->setRange(c.minimum, c.maximum);
        slider->setSingleStep(c.step);
        slider->setPageStep(std::max(c.step, (c.maximum - c.minimum) / 10));
        slider->setValue(c.value);
        slider->setMinimumWidth(180);
        auto* number = new QLabel(QString::number(c.value), row);
        number->setMinimumWidth(number->fontMetrics().horizontalAdvance(QString::number(c.minimum)) + 4);
        number->setMinimumWidth(std::max(number->minimumWidth(),
                                         number->fontMetrics().horizontalAdvance(QString::number(c.maximum)) + 4));
        number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        layout->addWidget(slider, 1);
        layout->addWidget(number);
        connect(slider, &QSlider::valueChanged, this, [this, id = c.id, number](int v) {
          number->setText(QString::number(v));
          Changed(id, v);
        });
        form->addRow(name + ":", row);
        editor = slider;
        break;
      }
      case DeviceControl::Kind::CheckBox: {
        auto* box = new QCheckBox(name, group);
        box->setChecked(c.value != 0);
        connect(box, &QCheckBox::toggled, this, [this, id = c.id](bool on) { Changed(id, on ? 1 : 0); });
        form->addRow(QString(), box);
        editor = box;
        break;
      }
      case DeviceControl::Kind::Menu: {
        auto* menu = new QComboBox(group);
        for (const auto& [value, text] : c.menuItems) menu->addItem(QString::fromStdString(text), value);
        menu->setCurrentIndex(std::max(0, menu->findData(c.value)));
        connect(menu, &QComboBox::currentIndexChanged, this,
                [this, id = c.id, menu](int index) { Changed(id, menu->itemData(index).toInt()); });
        form->addRow(name + ":", menu);
        editor = menu;
        break;
      }
    }
    editor->setEnabled(!c.readOnly);
    editors_[c.id] = editor;
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* defaults = buttons->addButton("&Defaults", QDialogButtonBox::ResetRole);
  connect(defaults, &QPushButton::clicked, this, [this] { RestoreDefaults(); });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetMinimumSize);
  resize(sizeHint());
}

CDevicePropertiesDlg::~CDevicePropertiesDlg() {
  target_->Unregister();
  ReportClosed();
  OpenDialogs::Remove(this);
}

platform::WindowHandle CDevicePropertiesDlg::Handle() const { return target_->Handle(); }

QWidget* CDevicePropertiesDlg::Editor(uint32_t id) const {
  auto it = editors_.find(id);
  return it == editors_.end() ? nullptr : it->second;
}

void CDevicePropertiesDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  OpenDialogs::Add(this);
  // A worker that ended before the window came up has nothing left to set.
  if (request_.worker != 0 &&
      !platform::Post<capture::to_device_worker::PropertiesShown>(request_.worker, intptr_t(Handle())))
    QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
}

void CDevicePropertiesDlg::Changed(uint32_t id, int32_t value) {
  auto it = values_.find(id);
  if (it == values_.end() || it->second == value) return;
  it->second = value;
  platform::Post<capture::to_device_worker::ControlChanged>(request_.worker, intptr_t(id), intptr_t(value));
}

void CDevicePropertiesDlg::ShowValue(uint32_t id, int32_t value) {
  QWidget* editor = Editor(id);
  if (auto* slider = qobject_cast<QSlider*>(editor)) slider->setValue(value);
  else if (auto* box = qobject_cast<QCheckBox*>(editor)) box->setChecked(value != 0);
  else if (auto* menu = qobject_cast<QComboBox*>(editor)) menu->setCurrentIndex(std::max(0, menu->findData(value)));
}

void CDevicePropertiesDlg::RestoreDefaults() {
  for (const DeviceControl& c : request_.controls)
    if (!c.readOnly) ShowValue(c.id, c.defaultValue);
}

void CDevicePropertiesDlg::done(int result) {
  // Cancel takes back what was changed; the editors send the old values on.
  if (result == Rejected)
    for (const DeviceControl& c : request_.controls) ShowValue(c.id, c.value);
  ReportClosed();
  QDialog::done(result);
}

void CDevicePropertiesDlg::ReportClosed() {
  if (closedReported_) return;
  closedReported_ = true;
  platform::Post<capture::to_device_worker::PropertiesClosed>(request_.worker);
}

bool RunDeviceProperties(QWidget* owner, platform::Message& msg) {
  if (!platform::Is<capture::to_properties_owner::OpenDeviceProperties>(msg)) return false;
  capture::DevicePropertiesRequest request = platform::Take<capture::to_properties_owner::OpenDeviceProperties>(msg);
  CDevicePropertiesDlg window(std::move(request), owner);
  window.exec();
  return true;
}

QDialog* OpenDevicePropertiesWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(w);
    if (dialog && dialog->isVisible() && dialog->windowTitle() == capture::kPropertiesWindowTitle) return dialog;
  }
  return nullptr;
}

}  // namespace recorder::ui
