#include "widgets/list_ctrl_ex.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QToolTip>
#include <algorithm>
#include <deque>
#include <numeric>
#include <string_view>
#include <utility>

#include "widgets/datetime_key.h"

namespace widgets {

QString ListRow::Text(int column) const {
  return column >= 0 && size_t(column) < texts.size() ? texts[size_t(column)] : QString();
}

namespace {

// Leading decimal integer as atoi reads it (blanks, sign, digits); 0 for a non-number.
int64_t NumberKey(const QString& text) {
  constexpr int64_t kLimit = INT64_MAX / 10 - 10;
  qsizetype i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  int64_t v = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
    v = std::min(v * 10 + (text[i].unicode() - u'0'), kLimit);
  return negative ? -v : v;
}

int64_t DateKey(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return DateTimeKey(std::string_view(bytes.constData(), size_t(bytes.size())));
}

}  // namespace

// The rows behind the view; selection lives in the view's selection model.
class CListCtrlEx::Model : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : int(rows_.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : int(titles_.size());
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || size_t(index.row()) >= rows_.size()) return QVariant();
    if (role == Qt::DisplayRole) return rows_[size_t(index.row())].Text(index.column());
    if (role == Qt::ForegroundRole) return QColor(Qt::black);
    return QVariant();
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && size_t(section) < titles_.size())
      return titles_[size_t(section)];
    return QVariant();
  }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
  }

  int InsertColumn(int column, const QString& title) {
    column = std::clamp(column, 0, int(titles_.size()));
    beginInsertColumns(QModelIndex(), column, column);
    titles_.insert(titles_.begin() + column, title);
    for (ListRow& row : rows_)
      if (size_t(column) < row.texts.size()) row.texts.insert(row.texts.begin() + column, QString());
    endInsertColumns();
    return column;
  }

  int InsertRow(int index, ListRow row) {
    index = std::clamp(index, 0, int(rows_.size()));
    beginInsertRows(QModelIndex(), index, index);
    rows_.insert(rows_.begin() + index, std::move(row));
    endInsertRows();
    return index;
  }
  bool RemoveRow(int index) {
    if (!Valid(index)) return false;
    beginRemoveRows(QModelIndex(), index, index);
    rows_.erase(rows_.begin() + index);
    endRemoveRows();
    return true;
  }
  // Returns the rows' selected flags; the selection itself is the view's.
  std::vector<bool> Replace(std::vector<ListRow> rows) {
    std::vector<bool> selected(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) selected[i] = std::exchange(rows[i].selected, false);
    beginResetModel();
    rows_.assign(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    endResetModel();
    return selected;
  }
  bool SetText(int index, int column, const QString& text) {
    if (!Valid(index) || column < 0 || size_t(column) >= titles_.size()) return false;
    ListRow& row = rows_[size_t(index)];
    if (row.texts.size() <= size_t(column)) row.texts.resize(size_t(column) + 1);
    row.texts[size_t(column)] = text;
    emit dataChanged(this->index(index, column), this->index(index, column), {Qt::DisplayRole});
    return true;
  }

  bool Valid(int index) const { return index >= 0 && size_t(index) < rows_.size(); }
  const ListRow& Row(int index) const { return rows_[size_t(index)]; }
  ListRow& Row(int index) { return rows_[size_t(index)]; }
  int Count() const { return int(rows_.size()); }
  std::vector<ListRow> Copy() const { return std::vector<ListRow>(rows_.begin(), rows_.end()); }

 private:
  std::vector<QString> titles_;
  std::deque<ListRow> rows_;  // the log list inserts at the top and drops at the bottom
};

CListCtrlEx::CListCtrlEx(QWidget* parent) : QTreeView(parent), model_(new Model(this)) {
  setModel(model_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setExpandsOnDoubleClick(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);  // sorting is ours, by the column's sort type

  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  header()->setSectionsClickable(true);
  header()->setSectionResizeMode(QHeaderView::Interactive);
  // The arrow appears with the first sort.
  header()->setSortIndicatorShown(false);
  connect(header(), &QHeaderView::sectionClicked, this, [this](int column) { SortByColumn(column); });
  // The mark follows its row as rows come and go; a reset (a sort, a new set of
  // rows) clears it. Qt's current index is no mark: the view sets it by itself
  // when it gets the focus.
  connect(model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
    if (mark_ >= first) mark_ += last - first + 1;
  });
  connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex&, int first, int last) {
    if (mark_ > last)
      mark_ -= last - first + 1;
    else if (mark_ >= first)
      mark_ = -1;
  });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { mark_ = -1; });
  connect(header(), &QHeaderView::sectionHandleDoubleClicked, this, [this](int column) {
    resizeColumnToContents(column);
    if (onDividerDoubleClicked) onDividerDoubleClicked(column);
  });

  // Black text on white in every state, and the selection stays marked when the
  // list loses focus (inactive highlight = active highlight).
  QPalette pal = palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    pal.setColor(group, QPalette::Base, Qt::white);
    pal.setColor(group, QPalette::AlternateBase, Qt::white);
    pal.setColor(group, QPalette::Text, Qt::black);
  }
  for (QPalette::ColorGroup group : {QPalette::Inactive, QPalette::Disabled}) {
    pal.setColor(group, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(group, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
  }
  setPalette(pal);
}

CListCtrlEx::~CListCtrlEx() = default;

int CListCtrlEx::InsertColumn(int column, const QString& title, int width) {
  const int at = model_->InsertColumn(column, title);
  header()->resizeSection(at, width);
  return at;
}

int CListCtrlEx::ColumnCount() const { return model_->columnCount(); }
int CListCtrlEx::ColumnWidth(int column) const { return header()->sectionSize(column); }
void CListCtrlEx::SetColumnWidth(int column, int width) { header()->resizeSection(column, std::max(0, width)); }

int CListCtrlEx::InsertItem(int index, const QString& text, uintptr_t data) {
  ListRow row;
  row.texts.push_back(text);
  row.data = data;
  return model_->InsertRow(index, std::move(row));
}

bool CListCtrlEx::SetItemText(int row, int column, const QString& text) { return model_->SetText(row, column, text); }

QString CListCtrlEx::ItemText(int row, int column) const {
  return model_->Valid(row) ? model_->Row(row).Text(column) : QString();
}

bool CListCtrlEx::SetItemData(int row, uintptr_t data) {
  if (!model_->Valid(row)) return false;
  model_->Row(row).data = data;
  return true;
}

uintptr_t CListCtrlEx::ItemData(int row) const { return model_->Valid(row) ? model_->Row(row).data : 0; }

bool CListCtrlEx::SetItemToolTip(int row, const QString& toolTip) {
  if (!model_->Valid(row)) return false;
  model_->Row(row).toolTip = toolTip;
  return true;
}

QString CListCtrlEx::ItemToolTip(int row) const { return model_->Valid(row) ? model_->Row(row).toolTip : QString(); }
bool CListCtrlEx::DeleteItem(int row) { return model_->RemoveRow(row); }
void CListCtrlEx::DeleteAllItems() { model_->Replace({}); }

void CListCtrlEx::SetAllItems(std::vector<ListRow> rows) { ApplySelection(model_->Replace(std::move(rows))); }

int CListCtrlEx::ItemCount() const { return model_->Count(); }

int CListCtrlEx::FindItemByData(uintptr_t data) const {
  for (int i = 0; i < model_->Count(); ++i)
    if (model_->Row(i).data == data) return i;
  return -1;
}

void CListCtrlEx::SetMultiSelect(bool multi) {
  setSelectionMode(multi ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

std::vector<int> CListCtrlEx::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void CListCtrlEx::SelectRow(int row, bool select) {
  if (!model_->Valid(row)) return;
  QItemSelectionModel::SelectionFlags how = QItemSelectionModel::Rows;
  if (!select)
    how |= QItemSelectionModel::Deselect;
  else if (selectionMode() == QAbstractItemView::SingleSelection)
    how |= QItemSelectionModel::ClearAndSelect;
  else
    how |= QItemSelectionModel::Select;
  selectionModel()->select(model_->index(row, 0), how);
}

int CListCtrlEx::SelectionMark() const { return model_->Valid(mark_) ? mark_ : -1; }

void CListCtrlEx::SetSelectionMark(int row) {
  mark_ = model_->Valid(row) ? row : -1;
  selectionModel()->setCurrentIndex(mark_ >= 0 ? model_->index(mark_, 0) : QModelIndex(),
                                    QItemSelectionModel::NoUpdate);
}

void CListCtrlEx::ApplySelection(const std::vector<bool>& selected) {
  QItemSelection selection;
  const int lastColumn = std::max(0, ColumnCount() - 1);
  for (size_t i = 0; i < selected.size();) {
    if (!selected[i]) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end + 1 < selected.size() && selected[end + 1]) ++end;
    selection.select(model_->index(int(i), 0), model_->index(int(end), lastColumn));
    i = end + 1;
  }
  if (!selection.isEmpty()) selectionModel()->select(selection, QItemSelectionModel::Select);
}

void CListCtrlEx::AddColumnType(int column, int type, ListCompare compare) {
  for (const ColumnType& entry : columnTypes_)
    if (entry.column == column) return;
  columnTypes_.push_back(ColumnType{column, type, std::move(compare)});
}

int CListCtrlEx::SortColumn() const { return sortColumn_; }
bool CListCtrlEx::SortAscending() const { return ascending_; }
bool CListCtrlEx::Sorting() const { return sorting_; }

void CListCtrlEx::SortByColumn(int column) {
  if (column < 0 || column >= ColumnCount()) return;
  if (column == sortColumn_) {
    ascending_ = !ascending_;
  } else {
    sortColumn_ = column;
    ascending_ = true;
  }

  int type = kSortText;
  ListCompare compare;
  for (const ColumnType& entry : columnTypes_) {
    if (entry.column != column) continue;
    type = entry.type;
    compare = entry.compare;
    break;
  }
  header()->setSortIndicatorShown(true);
  header()->setSortIndicator(column, ascending_ ? Qt::AscendingOrder : Qt::DescendingOrder);
  if (type >= kSortCustom) type = compare ? kSortCustom : kSortText;
  if (type < kSortText) type = kSortText;

  // The sort runs to its end without handling events: posts to the owner (a new
  // log entry, a status text, a removed camera row) stay queued meanwhile and are
  // handled on the re-sorted list, so none is lost and none points at a freed row.
  const int mark = SelectionMark();
  const bool wasEnabled = isEnabled();
  const bool hadFocus = hasFocus();
  setEnabled(false);  // the header follows
  const int count = ItemCount();
  if (count > kSortNoticeRows) {
    sorting_ = true;
    viewport()->repaint();  // now, as no event is handled before the sort ends
  }

  std::vector<ListRow> rows = model_->Copy();  // texts are shared, not copied
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows[size_t(index.row())].selected = true;

  // Equal keys keep their order both ways: "before" is strict, and descending
  // compares the later row with the earlier one instead of negating the result.
  std::vector<uint32_t> order(rows.size());
  std::iota(order.begin(), order.end(), 0u);
  auto sortBy = [&order](auto before) { std::stable_sort(order.begin(), order.end(), before); };
  if (type == kSortNumber || type == kSortDateTime) {
    std::vector<int64_t> keys(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
      keys[i] = type == kSortNumber ? NumberKey(rows[i].Text(column)) : DateKey(rows[i].Text(column));
    if (ascending_)
      sortBy([&keys](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
    else
      sortBy([&keys](uint32_t a, uint32_t b) { return keys[a] > keys[b]; });
  } else if (type == kSortCustom) {
    if (ascending_)
      sortBy([&](uint32_t a, uint32_t b) { return compare(column, rows[b], rows[a]) > 0; });
    else
      sortBy([&](uint32_t a, uint32_t b) { return compare(column, rows[a], rows[b]) > 0; });
  } else {
    // Case-insensitive: every text is folded once, not at each comparison.
    std::vector<QString> texts(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) texts[i] = rows[i].Text(column).toCaseFolded();
    const int sign = ascending_ ? 1 : -1;
    sortBy([&texts, sign](uint32_t a, uint32_t b) { return sign * QString::compare(texts[a], texts[b]) < 0; });
  }

  std::vector<ListRow> sorted;
  sorted.reserve(rows.size());
  for (uint32_t i : order) sorted.push_back(std::move(rows[i]));
  // The reset clears the selection and the mark: with a mark the rows stay
  // unselected, without one the selection is restored.
  std::vector<bool> selected = model_->Replace(std::move(sorted));
  if (mark < 0) ApplySelection(selected);

  sorting_ = false;
  setEnabled(wasEnabled);
  if (hadFocus) setFocus();
  viewport()->update();
  if (onSorted) onSorted();
}

void CListCtrlEx::paintEvent(QPaintEvent* event) {
  QTreeView::paintEvent(event);
  if (!sorting_) return;
  // The viewport begins below the header, so y = 5 here is header height + 5 in the list.
  QPainter painter(viewport());
  QFont font(QStringLiteral("Verdana"));
  font.setPixelSize(13);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QRect(8, 5, viewport()->width(), viewport()->height()), Qt::AlignLeft | Qt::AlignTop,
                   ascending_ ? QStringLiteral("Ascending Sort...") : QStringLiteral("Descending Sort..."));
}

void CListCtrlEx::mousePressEvent(QMouseEvent* event) {
  QTreeView::mousePressEvent(event);
  // A click on a row, with either button, marks it; a click below the rows keeps the mark.
  const QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid())
    mark_ = index.row();
  else if (!(event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)))
    clearSelection();  // a click on no row, with either button, picks none
}

void CListCtrlEx::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton && onContextMenu) {
    onContextMenu(event->globalPosition().toPoint());
    event->accept();
    return;
  }
  QTreeView::mouseReleaseEvent(event);
}

void CListCtrlEx::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton && onDoubleClicked) onDoubleClicked(indexAt(event->position().toPoint()).row());
}

void CListCtrlEx::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && onDeleteKey) {
    onDeleteKey();
    event->accept();
    return;
  }
  const QModelIndex before = currentIndex();
  QTreeView::keyPressEvent(event);
  // Moving with the keys marks the row moved to.
  if (currentIndex().isValid() && currentIndex() != before) mark_ = currentIndex().row();
}

bool CListCtrlEx::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QTreeView::viewportEvent(event);
  auto* help = static_cast<QHelpEvent*>(event);
  const QModelIndex index = indexAt(help->pos());
  QString text = index.isValid() ? model_->Row(index.row()).Text(index.column()) : QString();
  const QRect cell = visualRect(index);
  const QString tip = index.isValid() && tipFor ? tipFor(index.row(), index.column()) : QString();
  if (!tip.isEmpty()) {
    QToolTip::showText(help->globalPos(), tip, viewport(), cell);
    return true;
  }
  const int margins = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
  if (fontMetrics().horizontalAdvance(text) + margins <= cell.width()) text.clear();  // shown whole already
  const QString own = index.isValid() ? model_->Row(index.row()).toolTip : QString();
  if (!own.isEmpty()) text = text.isEmpty() ? own : own + "\n" + text;
  if (!text.isEmpty())
    QToolTip::showText(help->globalPos(), text, viewport(), cell);
  else
    QToolTip::hideText();
  return true;
}

}  // namespace widgets
