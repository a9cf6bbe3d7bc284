// NSAlert: a modal alert with a message, an informative text and buttons; runModal returns
// NSAlertFirstButtonReturn for the first button added, the next value for the second, and so
// on. Main thread only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

using NSModalResponse = long;
inline constexpr NSModalResponse NSAlertFirstButtonReturn = 1000;

class NSAlert {
public:
  std::string messageText;
  std::string informativeText;

  void addButtonWithTitle(std::string_view title) { buttons_.emplace_back(title); }
  const std::vector<std::string>& buttons() const { return buttons_; }

  // Shows the alert in front of every window and waits for a button (Escape or closing it
  // answers with the last button). An alert without buttons gets an "OK" button.
  NSModalResponse runModal();

private:
  std::vector<std::string> buttons_;
};
