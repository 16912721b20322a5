#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QToolTip>
#include <QMouseEvent>
#include <QImage>
#include <QPixmap>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "widgets/datetime_key.h"
#include "widgets/list_ctrl_ex.h"

namespace {

using widgets::CListCtrlEx;
using widgets::DateTimeKey;
using widgets::ListRow;

// --- date/time key ---------------------------------------------------------

TEST(DateTimeKey, Texts) {
  struct Case {
    std::string text;
    int64_t key;
  };
  const Case cases[] = {
      {"12/06/26 05:53", 0},                     // 14 bytes: too short
      {"12/06/26 5:53:4", 261206055304},         // 15 bytes
      {std::string(51, '1'), 0},                 // too long
      {"12/06/26 (05:53:43 PM)", 261206175343},  // the log's own texts
      {"12/06/26 (05:53:43 AM)", 261206055343},
      {"12/06/26 (05:53:43pm)", 261206175343},  // marker glued to the seconds
      {"12/06/26 (05:53:43 pm)", 261206175343},
      {"12/06/26 (12:00:01 AM)", 261206000001},  // 12 AM is midnight
      {"12/06/26 (12:00:01 PM)", 261206120001},  // 12 PM is noon
      {"12/31/26 (11:59:59 PM)", 261231235959},
      {"Dec 6 2026 05:53:43 PM", 20261206175343},    // month name, four-digit year
      {"6 December 1901 10:00:00", 19011206100000},  // 1901 is a year
      {"6 December 1900 10:00:00", 121900100000},    // 1900 is a day
      {"JANUARY 1 2027 00:00:00", 20270101000000},
      {"1/2/3/4 and 5:6 and more", 100000000},                  // a/b/c/d and h:m are no date or time
      {"12/06/26 (05:53:43 XM) trailing", 261206055343},        // unknown words are ignored
      {std::string("12/06/26\0(05:53:43)", 19), 261206055343},  // a NUL is a byte like others
      {"\xff\xfe/\x80/\x01 \xc3\xa9:\xff:9 pm", 9},             // any bytes
  };
  for (const Case& c : cases) EXPECT_EQ(DateTimeKey(c.text), c.key) << c.text;
}

// --- sorting ---------------------------------------------------------------

struct Fixture {
  CListCtrlEx list;
  int sortedCalls = 0;
  std::vector<uintptr_t> orderSeenBySorted;

  Fixture() {
    list.InsertColumn(0, "Name", 80);
    list.InsertColumn(1, "Count", 50);
    list.InsertColumn(2, "Time", 135);
    list.InsertColumn(3, "Custom", 40);
    list.AddColumnType(1, widgets::kSortNumber);
    list.AddColumnType(1, widgets::kSortText);  // ignored: the first entry wins
    list.AddColumnType(2, widgets::kSortDateTime);
    // Types above 3 use their compare: here descending by data.
    list.AddColumnType(3, 7, [](int, const ListRow& a, const ListRow& b) { return int(b.data) - int(a.data); });
    struct Row {
      const char *name, *count, *time;
    };
    const Row rows[] = {{"beta", "10", "12/06/26 (05:53:43 PM)"},
                        {"Alpha", "9", "12/06/26 (05:53:43 AM)"},
                        {"alpha", "x", "12/07/26 (12:10:00 AM)"},
                        {"Gamma", "-3", "12/06/26 (12:00:01 PM)"},
                        {"beta", "9", "01/02/27 (01:00:00 AM)"}};
    for (const Row& r : rows) {
      const int at = list.InsertItem(list.ItemCount(), r.name, uintptr_t(list.ItemCount() + 1));
      list.SetItemText(at, 1, r.count);
      list.SetItemText(at, 2, r.time);
    }
    list.onSorted = [this] {
      ++sortedCalls;
      orderSeenBySorted = Order();
    };
  }
  std::vector<uintptr_t> Order() const {
    std::vector<uintptr_t> order;
    for (int i = 0; i < list.ItemCount(); ++i) order.push_back(list.ItemData(i));
    return order;
  }
};

TEST(ListToolTip, RowToolTipComesFirstThenACutCellsFullText) {
  CListCtrlEx list;
  list.InsertColumn(0, "Status", 60);
  list.InsertColumn(1, "Save To", 40);
  list.resize(200, 120);
  list.show();
  const QString longText = "/srv/a/very/long/folder/name/video.mjpg";
  struct Case {
    const char* what;
    QString toolTip, cell;
    QString shown;
  };
  const Case cases[] = {
      {"a name, text that fits", "front door", "x", "front door"},
      {"a name, cut text", "front door", longText, "front door\n" + longText},
      {"no name, cut text", "", longText, longText},
      {"no name, text that fits", "", "x", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    list.DeleteAllItems();
    list.InsertItem(0, "Started");
    list.SetItemText(0, 1, c.cell);
    ASSERT_TRUE(list.SetItemToolTip(0, c.toolTip));
    EXPECT_EQ(list.ItemToolTip(0), c.toolTip);
    const QPoint at = list.visualRect(list.model()->index(0, 1)).center();
    QHelpEvent help(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
    QApplication::sendEvent(list.viewport(), &help);
    // Hiding takes effect once the hide timer runs.
    for (int i = 0; i < 50 && c.shown.isEmpty() && QToolTip::isVisible(); ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ((QToolTip::isVisible() ? QToolTip::text() : QString()).toStdString(), c.shown.toStdString());
  }
  EXPECT_FALSE(list.SetItemToolTip(5, "none"));
}

TEST(ListSort, HeaderClicks) {
  struct Case {
    std::vector<int> clicks;
    std::vector<uintptr_t> order;  // item data after the last click
    bool ascending;
  };
  const Case cases[] = {
      {{0}, {2, 3, 1, 5, 4}, true},  // case-insensitive, equal names keep their order
      {{0, 0}, {4, 1, 5, 2, 3}, false},
      {{0, 0, 0}, {2, 3, 1, 5, 4}, true},
      {{1}, {4, 3, 2, 5, 1}, true},  // numbers, a non-number is 0
      {{1, 1}, {1, 2, 5, 3, 4}, false},
      {{2}, {2, 4, 1, 3, 5}, true},  // AM before noon before PM, then the next day and year
      {{2, 2}, {5, 3, 1, 4, 2}, false},
      {{0, 2}, {2, 4, 1, 3, 5}, true},         // another header sorts ascending
      {{2, 2, 0}, {3, 2, 5, 1, 4}, true},      // equal keys keep the previous order...
      {{2, 2, 0, 0}, {4, 5, 1, 3, 2}, false},  // ...in both directions
      {{3}, {5, 4, 3, 2, 1}, true},
  };
  for (const Case& c : cases) {
    Fixture f;
    for (int column : c.clicks) emit f.list.header()->sectionClicked(column);
    const std::string trace = "clicks " + std::to_string(c.clicks.size()) + " last " + std::to_string(c.clicks.back());
    EXPECT_EQ(f.Order(), c.order) << trace;
    EXPECT_EQ(f.list.SortColumn(), c.clicks.back()) << trace;
    EXPECT_EQ(f.list.SortAscending(), c.ascending) << trace;
    EXPECT_EQ(f.sortedCalls, int(c.clicks.size())) << trace;
    EXPECT_EQ(f.orderSeenBySorted, c.order) << trace;  // the owner sees the new order
    // The header's arrow marks the sorted column and its direction.
    EXPECT_TRUE(f.list.header()->isSortIndicatorShown()) << trace;
    EXPECT_EQ(f.list.header()->sortIndicatorSection(), c.clicks.back()) << trace;
    EXPECT_EQ(f.list.header()->sortIndicatorOrder(), c.ascending ? Qt::AscendingOrder : Qt::DescendingOrder) << trace;
  }
}

// The selection mark is the row the user picked (or the owner named), never the
// current row Qt gives a list that gets the focus; it follows its row as rows
// come and go, and a click on no row picks none.
TEST(ListMark, OnlyAPickedRowIsMarked) {
  const auto press = [](CListCtrlEx& list, QPoint at, Qt::MouseButton button) {
    QMouseEvent event(QEvent::MouseButtonPress, QPointF(at), QPointF(list.viewport()->mapToGlobal(at)), button, button,
                      Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &event);
  };
  const auto rowPoint = [](CListCtrlEx& list, int row) {
    return list.visualRect(list.model()->index(row, 0)).center();
  };
  struct Case {
    const char* name;
    std::function<void(CListCtrlEx&)> act;
    int mark;
    std::vector<int> selected;
  };
  const Case cases[] = {
      {"focus only", [](CListCtrlEx& l) { l.setFocus(); }, -1, {}},
      {"right press on a row", [&](CListCtrlEx& l) { press(l, rowPoint(l, 3), Qt::RightButton); }, 3, {3}},
      {"left press on a row", [&](CListCtrlEx& l) { press(l, rowPoint(l, 1), Qt::LeftButton); }, 1, {1}},
      {"press below the rows",
       [&](CListCtrlEx& l) {
         press(l, rowPoint(l, 1), Qt::LeftButton);
         press(l, rowPoint(l, 4) + QPoint(0, 60), Qt::RightButton);
       },
       1, {}},
      {"row inserted above", [](CListCtrlEx& l) { l.SetSelectionMark(2), l.InsertItem(0, "new"); }, 3, {}},
      {"row removed above", [](CListCtrlEx& l) { l.SetSelectionMark(2), l.DeleteItem(0); }, 1, {}},
      {"marked row removed", [](CListCtrlEx& l) { l.SetSelectionMark(2), l.DeleteItem(2); }, -1, {}},
      {"row removed below", [](CListCtrlEx& l) { l.SetSelectionMark(2), l.DeleteItem(3); }, 2, {}},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.list.SetMultiSelect(true);
    f.list.resize(300, 240);
    f.list.show();
    QApplication::processEvents();
    c.act(f.list);
    QApplication::processEvents();
    EXPECT_EQ(f.list.SelectionMark(), c.mark) << c.name;
    EXPECT_EQ(f.list.SelectedRows(), c.selected) << c.name;
  }
}

TEST(ListSort, SelectionAfterSort) {
  struct Case {
    bool mark;
    std::vector<int> selectedAfter;  // rows after sorting by name
  };
  // Row data 1 ("beta") ends at index 2 after sorting by name.
  const Case cases[] = {{true, {}}, {false, {2}}};
  for (const Case& c : cases) {
    Fixture f;
    f.list.SelectRow(0);
    f.list.SetSelectionMark(c.mark ? 0 : -1);
    ASSERT_EQ(f.list.SelectedRows(), std::vector<int>{0});
    emit f.list.header()->sectionClicked(0);
    EXPECT_EQ(f.list.SelectedRows(), c.selectedAfter) << "mark " << c.mark;
    EXPECT_EQ(f.list.SelectionMark(), -1);
  }
}

// Long lists show the notice and are disabled while they are sorted.
TEST(ListSort, NoticeOnLongLists) {
  struct Case {
    int rows;
    bool notice;
  };
  for (const Case c : {Case{400, false}, Case{401, true}}) {
    CListCtrlEx list;
    list.resize(300, 200);
    list.InsertColumn(0, "", 100);
    for (int i = 0; i < c.rows; ++i) list.InsertItem(i, QString(), uintptr_t(i));
    list.show();
    bool sawSorting = false, sawEnabled = false;
    int darkPixels = -1;
    list.AddColumnType(0, widgets::kSortCustom, [&](int, const ListRow& a, const ListRow& b) {
      sawSorting |= list.Sorting();
      sawEnabled |= list.isEnabled();
      if (darkPixels < 0) {
        // Rows are empty, so dark pixels where the notice goes are the notice.
        const QImage shot = list.viewport()->grab().toImage();
        darkPixels = 0;
        for (int y = 5; y < 21 && y < shot.height(); ++y)
          for (int x = 8; x < 140 && x < shot.width(); ++x) darkPixels += qGray(shot.pixel(x, y)) < 100;
      }
      return int(b.data) - int(a.data);
    });
    emit list.header()->sectionClicked(0);
    EXPECT_EQ(sawSorting, c.notice) << c.rows;
    EXPECT_FALSE(sawEnabled) << c.rows;
    EXPECT_EQ(darkPixels > 20, c.notice) << c.rows << " rows, dark pixels " << darkPixels;
    EXPECT_FALSE(list.Sorting());
    EXPECT_TRUE(list.isEnabled());
    EXPECT_EQ(list.ItemData(0), uintptr_t(c.rows - 1));
  }
}

// A full log list sorts by its Time column, stable, in both directions.
TEST(ListSort, FullLogListByTime) {
  CListCtrlEx list;
  list.InsertColumn(0, "Time", 135);
  list.InsertColumn(1, "Event", 250);
  list.AddColumnType(0, widgets::kSortDateTime);
  std::vector<ListRow> rows(65536);
  uint32_t seed = 12345;
  for (size_t i = 0; i < rows.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    const uint32_t r = seed >> 8;
    char text[40];
    std::snprintf(text, sizeof text, "%02u/%02u/%02u (%02u:%02u:%02u %s)", r % 12 + 1, r / 12 % 28 + 1,
                  20 + r / 400 % 9, r / 4000 % 12 + 1, r / 7 % 60, r / 3 % 4, r / 2 % 2 ? "PM" : "AM");
    rows[i].texts = {QString::fromLatin1(text), QString::number(i)};
    rows[i].data = i;
  }
  list.SetAllItems(std::move(rows));

  for (bool ascending : {true, false}) {
    emit list.header()->sectionClicked(0);
    ASSERT_EQ(list.SortAscending(), ascending);
    ASSERT_EQ(list.ItemCount(), 65536);
    int64_t previousKey = DateTimeKey(list.ItemText(0, 0).toStdString());
    for (int i = 1; i < list.ItemCount(); ++i) {
      const int64_t key = DateTimeKey(list.ItemText(i, 0).toStdString());
      ASSERT_TRUE(key == previousKey || (key > previousKey) == ascending) << "row " << i;
      // Ties keep the order they had before, which is by data both times.
      if (key == previousKey) {
        ASSERT_LT(list.ItemData(i - 1), list.ItemData(i)) << "row " << i;
      }
      ASSERT_EQ(list.ItemText(i, 1).toULongLong(), list.ItemData(i));
      previousKey = key;
    }
  }
}

}  // namespace
