#pragma once
// A report-view list whose rows the user sorts by clicking a column header, with
// a sort type per column (text, number, date/time or the owner's own compare).
// Rows hold one text per column and a data value (a row id of the owner). The
// recorder's camera list and event list and the player's lists use it.
#include <QPoint>
#include <QString>
#include <QTreeView>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace widgets {

// One row as the sort sees it (and as custom compares receive it).
struct ListRow {
  std::vector<QString> texts;  // one per column; missing ones read as empty
  uintptr_t data = 0;
  bool selected = false;
  QString toolTip;  // the row's own tooltip, shown above a cut cell's full text

  QString Text(int column) const;
};

// Negative, zero or positive: a before, equal to, after b.
using ListCompare = std::function<int(int column, const ListRow& a, const ListRow& b)>;

enum ListSortType : int {
  kSortText = 0,
  kSortNumber = 1,
  kSortDateTime = 2,
  kSortCustom = 3,  // the given compare, else text; types above 3 always use their compare
};

// Lists of more than this many rows show a notice while they are sorted.
constexpr int kSortNoticeRows = 400;

class CListCtrlEx : public QTreeView {
 public:
  explicit CListCtrlEx(QWidget* parent = nullptr);
  ~CListCtrlEx() override;

  // Columns. Returns the new column's index.
  int InsertColumn(int column, const QString& title, int width);
  int ColumnCount() const;
  int ColumnWidth(int column) const;
  void SetColumnWidth(int column, int width);

  // Rows. InsertItem puts a row at index (clamped to 0..count) with text in
  // column 0 and returns the index; -1 means none in the other calls.
  int InsertItem(int index, const QString& text, uintptr_t data = 0);
  bool SetItemText(int row, int column, const QString& text);
  QString ItemText(int row, int column) const;
  bool SetItemData(int row, uintptr_t data);
  uintptr_t ItemData(int row) const;  // 0 for a row that does not exist
  bool SetItemToolTip(int row, const QString& toolTip);
  QString ItemToolTip(int row) const;
  bool DeleteItem(int row);
  void DeleteAllItems();
  // Replaces every row at once (their selected flags are applied).
  void SetAllItems(std::vector<ListRow> rows);
  int ItemCount() const;
  int FindItemByData(uintptr_t data) const;

  // Selection. Single selection unless the owner asks for several rows.
  void SetMultiSelect(bool multi);
  std::vector<int> SelectedRows() const;  // ascending
  void SelectRow(int row, bool select = true);
  // The row the user last clicked or moved to (or that SetSelectionMark named);
  // -1 when none since the list was made or last sorted.
  int SelectionMark() const;
  void SetSelectionMark(int row);

  // Sort types: the first entry for a column wins.
  void AddColumnType(int column, int type, ListCompare compare = nullptr);
  // What a click on a column header does: the same column again reverses the
  // order, another column sorts ascending.
  void SortByColumn(int column);
  int SortColumn() const;  // -1 before the first sort
  bool SortAscending() const;
  bool Sorting() const;  // true while a sort with the notice runs

  // Owner hooks; each may be empty.
  std::function<void()> onSorted;                       // after every sort: re-read the order of item data
  std::function<void(QPoint globalPos)> onContextMenu;  // right button released over the list
  std::function<void(int row)> onDoubleClicked;         // -1 below the last row
  std::function<void()> onDeleteKey;
  std::function<void(int column)> onDividerDoubleClicked;  // after the column was sized to its contents
  // The tip of a cell, shown whether or not the cell is cut off; when it is empty
  // or gives "", a cut-off cell shows its whole text.
  std::function<QString(int row, int column)> tipFor;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool viewportEvent(QEvent* event) override;  // tips with the whole text of a cut-off cell

 private:
  class Model;
  struct ColumnType {
    int column;
    int type;
    ListCompare compare;
  };

  void ApplySelection(const std::vector<bool>& selected);

  Model* model_;
  std::vector<ColumnType> columnTypes_;
  int mark_ = -1;
  int sortColumn_ = -1;
  bool ascending_ = true;
  bool sorting_ = false;
};

}  // namespace widgets
