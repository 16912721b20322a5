#pragma once
// The recorder's about box: the program icon, its name and version, and OK.
class QWidget;
class QDialog;

namespace recorder::ui {

constexpr const char* kAboutText = "Tollan Version 2.0.1.0";

// A modal-ready dialog owned by parent; the caller runs exec() or renders it.
QDialog* CreateAboutBox(QWidget* parent);

}  // namespace recorder::ui
