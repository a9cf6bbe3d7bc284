// NavigationHistory: the pages one preview panel has shown, for Back and Forward. An entry is
// a page of the panel (an index the panel understands) and the fragment to scroll to. Visiting
// a page drops whatever was ahead of the current one, as in a browser. Not thread-safe; the
// panel uses it on the main thread.
#pragma once

#include <QString>
#include <optional>
#include <vector>

class NavigationHistory {
public:
  struct Entry {
    int page = 0;
    QString fragment; // without '#'; empty for the top of the page
    bool operator==(const Entry&) const = default;
  };

  // Makes `entry` the current one. Visiting the current entry again changes nothing.
  void visit(Entry entry);
  // Moves one step and returns the entry now current, or nothing at that end.
  std::optional<Entry> back();
  std::optional<Entry> forward();

  bool canGoBack() const { return current_ > 0; }
  bool canGoForward() const { return current_ + 1 < entries_.size(); }
  std::optional<Entry> current() const;

private:
  std::vector<Entry> entries_;
  std::size_t current_ = 0; // meaningful only when entries_ is not empty
};
