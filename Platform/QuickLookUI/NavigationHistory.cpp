#include "QuickLookUI/NavigationHistory.h"

void NavigationHistory::visit(Entry entry) {
  if (!entries_.empty()) {
    if (entries_[current_] == entry)
      return;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(current_) + 1, entries_.end());
  }
  entries_.push_back(std::move(entry));
  current_ = entries_.size() - 1;
}

std::optional<NavigationHistory::Entry> NavigationHistory::back() {
  if (!canGoBack())
    return std::nullopt;
  return entries_[--current_];
}

std::optional<NavigationHistory::Entry> NavigationHistory::forward() {
  if (!canGoForward())
    return std::nullopt;
  return entries_[++current_];
}

std::optional<NavigationHistory::Entry> NavigationHistory::current() const {
  if (entries_.empty())
    return std::nullopt;
  return entries_[current_];
}
