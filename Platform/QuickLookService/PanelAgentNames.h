// The panel agent's names on the session bus.
#pragma once

namespace PanelAgentNames {

inline constexpr char kService[] = "com.lumivale.quicklook.PanelAgent";
inline constexpr char kObjectPath[] = "/com/lumivale/quicklook/PanelAgent";
inline constexpr char kInterface[] = "com.lumivale.quicklook.PanelAgent";
// Show's error when the agent runs on another display or appearance than the caller's: the
// caller shows the panel itself.
inline constexpr char kOtherDesktopError[] = "com.lumivale.quicklook.Error.OtherDesktop";
// Show's error while the agent is on its way out.
inline constexpr char kQuittingError[] = "com.lumivale.quicklook.Error.Quitting";

} // namespace PanelAgentNames
