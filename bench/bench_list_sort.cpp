// Sorting a full event list (65,536 rows) by its Time column and by its Event
// column, and the date/time key alone. Each sort starts from the same shuffled rows.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "widgets/datetime_key.h"
#include "widgets/list_ctrl_ex.h"

namespace {

constexpr int kRows = 65536;

// Log-style rows in no particular order, over several days, both halves of the day.
std::vector<widgets::ListRow> LogRows() {
  std::vector<widgets::ListRow> rows(kRows);
  uint32_t seed = 2024;
  for (int i = 0; i < kRows; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const uint32_t r = seed >> 4;
    char time[40];
    std::snprintf(time, sizeof time, "%02u/%02u/26 (%02u:%02u:%02u %s)", r % 12 + 1, r / 12 % 28 + 1, r / 336 % 12 + 1,
                  r / 4032 % 60, r / 7 % 60, r / 2 % 2 ? "PM" : "AM");
    rows[size_t(i)].texts = {QString::fromLatin1(time),
                             QStringLiteral("Socket thread started, URL: http://127.0.0.1/cam%1.jpg").arg(r % 97)};
    rows[size_t(i)].data = uintptr_t(i);
  }
  return rows;
}

void SortByColumn(benchmark::State& state, int column) {
  widgets::CListCtrlEx list;
  list.InsertColumn(0, "Time", 135);
  list.InsertColumn(1, "Event", 250);
  list.AddColumnType(0, widgets::kSortDateTime);
  list.resize(420, 240);
  list.show();
  const std::vector<widgets::ListRow> rows = LogRows();
  for (auto _ : state) {
    state.PauseTiming();
    list.SetAllItems(rows);
    state.ResumeTiming();
    emit list.header()->sectionClicked(column);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SortByTime(benchmark::State& state) { SortByColumn(state, 0); }
void BM_SortByEvent(benchmark::State& state) { SortByColumn(state, 1); }
BENCHMARK(BM_SortByTime)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByEvent)->Unit(benchmark::kMillisecond);

void BM_DateTimeKey(benchmark::State& state) {
  std::vector<std::string> texts;
  for (const widgets::ListRow& row : LogRows()) texts.push_back(row.texts[0].toStdString());
  for (auto _ : state)
    for (const std::string& text : texts) benchmark::DoNotOptimize(widgets::DateTimeKey(text));
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_DateTimeKey)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
