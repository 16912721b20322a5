#include "recorder/ui/log_view.h"

#include <algorithm>

#include <QCloseEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QHeaderView>
#include <QVBoxLayout>

#include "platform/qt/qt_window.h"
#include "recorder/app/log_thread.h"
#include "recorder/ui/program_icon.h"
#include "recorder/ui/window_placement.h"
#include "widgets/list_ctrl_ex.h"

namespace recorder::ui {

namespace {
constexpr int kTimeColumn = 0;
constexpr int kEventColumn = 1;
constexpr int kMaxEntries = int(app::kMaxLogEntries);
}  // namespace

CLogView::CLogView(QWidget* owner) : QWidget(owner, Qt::Window) {
  setWindowTitle(QStringLiteral("Program Log View"));
  setWindowIcon(ProgramIcon());
  setMinimumSize(250, 150);

  list_ = new widgets::CListCtrlEx(this);
  // 135 pixels hold a time text in the classic dialog font; larger fonts widen
  // the column (and the window with it) so the time is never cut off.
  const int timeWidth =
      std::max(135, list_->fontMetrics().horizontalAdvance(QStringLiteral("12/31/26 (12:59:59 PM)")) + 16);
  resize(420 + timeWidth - 135, 240);
  list_->InsertColumn(kTimeColumn, QStringLiteral("Time"), timeWidth);
  // A stretched last column never shrinks below its width when stretching began.
  list_->InsertColumn(kEventColumn, QStringLiteral("Event"), 40);
  list_->AddColumnType(kTimeColumn, widgets::kSortDateTime);
  // The Event column reaches the right edge however the window is sized, and the
  // whole line, time and event, is every row's tip.
  list_->header()->setStretchLastSection(true);
  list_->tipFor = [this](int row, int) {
    return list_->ItemText(row, kTimeColumn) + QStringLiteral("  ") + list_->ItemText(row, kEventColumn);
  };
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
  list_->viewport()->installEventFilter(this);

  menu_ = new QMenu(this);
  connect(menu_->addAction(QStringLiteral("Clear Log Events")), &QAction::triggered, this,
          [this] { ClearLogEvents(); });
  list_->onContextMenu = [this](QPoint globalPos) { menu_->popup(globalPos); };

  target_ = new platform::QtWindowTarget(this, [this](platform::Message& msg) { OnMessage(msg); });

  // Made with the main window, before that is placed: it is placed when it first appears.
  PlaceOnFirstShow(this);
}

CLogView::~CLogView() { target_->Unregister(); }

platform::WindowHandle CLogView::Handle() const { return target_->Handle(); }
platform::ThreadId CLogView::LogThread() const { return logThread_; }
widgets::CListCtrlEx* CLogView::List() const { return list_; }

void CLogView::SetLogThread(platform::ThreadId logThread) {
  logThread_ = logThread;
  copyRequested_ =
      logThread_ && platform::Post<camera::to_log::LogGetEntries>(logThread_, static_cast<intptr_t>(Handle()));
}

void CLogView::ClearLogEvents() {
  list_->DeleteAllItems();
  // A copy still on its way holds entries from before the clear.
  copyRequested_ = false;
  if (logThread_) platform::Post<camera::to_log::LogClear>(logThread_);
}

void CLogView::OnMessage(platform::Message& msg) {
  namespace to_view = camera::to_log_window;
  if (platform::Is<to_view::LogEntryAdded>(msg)) {
    AddEntry(platform::Take<to_view::LogEntryAdded>(msg));
  } else if (platform::Is<to_view::LogEntriesCopy>(msg)) {
    // The copy is the log as it stood when the request was handled; entries
    // added since then come after it, so it replaces the list without doubles.
    if (!copyRequested_) return;
    copyRequested_ = false;
    SetEntries(platform::Take<to_view::LogEntriesCopy>(msg));
  } else if (platform::Is<to_view::LogShowView>(msg)) {
    show();
    raise();
    activateWindow();
  }
}

void CLogView::AddEntry(const camera::LogEntry& entry) {
  while (list_->ItemCount() > kMaxEntries - 1) list_->DeleteItem(list_->ItemCount() - 1);
  const int row = list_->InsertItem(0, QString::fromStdString(entry.time));
  list_->SetItemText(row, kEventColumn, QString::fromStdString(entry.text));
}

void CLogView::SetEntries(const camera::LogEntries& entries) {
  std::vector<widgets::ListRow> rows(std::min(entries.size(), size_t(kMaxEntries)));
  for (size_t i = 0; i < rows.size(); ++i)
    rows[i].texts = {QString::fromStdString(entries[i].time), QString::fromStdString(entries[i].text)};
  list_->SetAllItems(std::move(rows));
}

void CLogView::closeEvent(QCloseEvent* event) {
  // The user never destroys the log; LOG_SHOW brings the same entries back.
  event->ignore();
  hide();
}

bool CLogView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) &&
      static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
    return true;  // the menu opens on release; a press must not move the selection
  return QWidget::eventFilter(watched, event);
}

}  // namespace recorder::ui
