// PanelEngine: what the web engine of a process that shows preview panels needs, around the
// creation of its QApplication. Used by `qlmanage -p` showing a panel itself and by the panel
// agent, so that both start the engine alike.
#pragma once

namespace PanelEngine {

// Before the QApplication exists: the engine's environment and the panel's URL schemes.
void prepare();

// Once it exists: the application's names, and the page's appearance, which follows the
// desktop's (the engine reads it when the first profile is made). Returns whether it is dark.
bool configure();

} // namespace PanelEngine
