// PanelAgentRequest: what `qlmanage -p` asks the panel agent to show: the documents (with what
// was decided for each before any extension ran), the panel probe wanted, and the caller's
// desktop (display and appearance settings), which the agent must share to show the panel for
// it. Sent as one JSON text; decoding rejects anything malformed.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

struct PanelAgentItem {
  std::string displayName;
  std::string path;        // absolute
  std::string contentType; // may be empty when `error` is set
  std::string appBundle;   // the app whose extension serves it, for the preview server
  std::string extensionName;
  std::string extensionExecutable; // run by the agent itself when the server cannot be used
  std::string error;               // set: the item failed before it was sent
  friend bool operator==(const PanelAgentItem&, const PanelAgentItem&) = default;
};

struct PanelAgentRequest {
  std::vector<PanelAgentItem> items;
  std::string probe; // LUMIVALE_PANEL_PROBE's value, or empty
  std::string app;   // the one app whose extensions serve (qlmanage --app), or empty: the registry
  std::map<std::string, std::string> desktop;
  friend bool operator==(const PanelAgentRequest&, const PanelAgentRequest&) = default;

  // The environment variables that decide where and how a panel appears.
  static const std::vector<std::string>& desktopVariables();
  // Their values in this process (unset ones are left out).
  static std::map<std::string, std::string> currentDesktop();

  std::string toJSON() const;
  // nullopt, with `why`, for anything but a well-formed request with at least one item.
  static std::optional<PanelAgentRequest> fromJSON(const std::string& text, std::string& why);
};
