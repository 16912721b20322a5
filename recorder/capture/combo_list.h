#pragma once
// What a drop list holds while the device lists fill it: entries (kept in
// alphabetical order when sorted), the selection and whether it is enabled.
// Windows copy it into their own drop lists, so the selection rules live here.
#include <string>
#include <string_view>
#include <vector>

namespace recorder::capture {

class ComboList {
 public:
  explicit ComboList(bool sorted = false) : sorted_(sorted) {}

  void Clear();
  // Adds an entry (at its alphabetical place when sorted); returns its index.
  int Add(std::string text);
  // The first entry that begins with `prefix`, or equals `text`, without regard to case; -1 when none.
  int FindPrefix(std::string_view prefix) const;
  int FindExact(std::string_view text) const;
  // Selects an entry; -1 (or an index out of range) clears the selection. Returns the selection.
  int Select(int index);
  // Selects the first entry beginning with `prefix`; the selection stays when there is none.
  bool SelectPrefix(std::string_view prefix);

  int Selected() const { return selected_; }
  std::string SelectedText() const { return selected_ >= 0 ? items_[size_t(selected_)] : std::string(); }
  int Count() const { return int(items_.size()); }
  const std::vector<std::string>& Items() const { return items_; }
  void Enable(bool enabled) { enabled_ = enabled; }
  bool Enabled() const { return enabled_; }

 private:
  bool sorted_;
  std::vector<std::string> items_;
  int selected_ = -1;
  bool enabled_ = true;
};

}  // namespace recorder::capture
