// PanelEngine: what the web engine of a process that shows preview panels needs, around the
// creation of its QApplication. Used by `qlmanage -p` showing a panel itself and by the panel
// agent, so that both start the engine alike.
#pragma once

#include <QByteArray>

namespace PanelEngine {

// Before the QApplication exists: the engine's environment and the panel's URL schemes.
void prepare();

// The Qt Quick renderer for the engine's views, given the engine's Chromium flags and the one
// the user chose (QT_QUICK_BACKEND): the user's, else the software renderer when Chromium runs
// without the GPU, else empty (Qt's default).
QByteArray quickBackendFor(const QByteArray& chromiumFlags, const QByteArray& chosen);

// Once it exists: the application's names, and the page's appearance, which follows the
// desktop's (the engine reads it when the first profile is made), as do the panel's own
// widgets. Returns whether it is dark.
bool configure();

} // namespace PanelEngine
