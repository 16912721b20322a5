#include "recorder/capture/combo_list.h"

#include <algorithm>

#include "platform/ascii.h"

namespace recorder::capture {

namespace {

using platform::ascii::LessNoCase;
using platform::ascii::StartsWithNoCase;

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
    if (StartsWithNoCase(items_[i], prefix)) return int(i);
  return -1;
}

int ComboList::FindExact(std::string_view text) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (platform::ascii::EqualsNoCase(items_[i], text)) return int(i);
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
