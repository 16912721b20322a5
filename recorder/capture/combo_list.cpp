#include "recorder/capture/combo_list.h"

#include <algorithm>

namespace recorder::capture {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool LessNoCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Lower(x) < Lower(y); });
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (Lower(s[i]) != Lower(prefix[i])) return false;
  return true;
}

}  // namespace

void ComboList::Clear() {
  items_.clear();
  selected_ = -1;
}

int ComboList::Add(std::string text) {
  auto at = items_.end();
  if (sorted_)
    at = std::upper_bound(items_.begin(), items_.end(), text,
                          [](const std::string& a, const std::string& b) { return LessNoCase(a, b); });
  const int index = int(at - items_.begin());
  items_.insert(at, std::move(text));
  if (selected_ >= index) ++selected_;
  return index;
}

int ComboList::FindPrefix(std::string_view prefix) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (StartsNoCase(items_[i], prefix)) return int(i);
  return -1;
}

int ComboList::FindExact(std::string_view text) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].size() == text.size() && StartsNoCase(items_[i], text)) return int(i);
  return -1;
}

int ComboList::Select(int index) {
  selected_ = index >= 0 && index < Count() ? index : -1;
  return selected_;
}

bool ComboList::SelectPrefix(std::string_view prefix) {
  const int index = FindPrefix(prefix);
  if (index < 0) return false;
  selected_ = index;
  return true;
}

}  // namespace recorder::capture
