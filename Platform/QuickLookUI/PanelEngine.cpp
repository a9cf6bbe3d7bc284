#include "QuickLookUI/PanelEngine.h"

#include "AppKit/DesktopAppearance.h"
#include "QuickLookUI/PreviewSchemes.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QPalette>
#include <unistd.h>

namespace PanelEngine {

void prepare() {
  // Chromium's own sandbox cannot run as root; everything shown is served from memory and
  // blocked from the network either way.
  if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  PreviewSchemes::registerSchemes();
  // The engine's start-up report is noise on a user's terminal.
  if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
  QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // Without the GPU, Chromium draws the page on the processor; Qt Quick's software renderer
  // then puts those pixels into the window as they are, instead of first setting up OpenGL
  // (a software rasterizer too, then) for the view, which costs a panel's first frame some
  // hundreds of milliseconds.
  const QByteArray backend =
      quickBackendFor(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), qgetenv("QT_QUICK_BACKEND"));
  if (!backend.isEmpty())
    qputenv("QT_QUICK_BACKEND", backend);
}

QByteArray quickBackendFor(const QByteArray& chromiumFlags, const QByteArray& chosen) {
  if (!chosen.isEmpty())
    return chosen;
  return chromiumFlags.simplified().split(' ').contains("--disable-gpu") ? QByteArray("software")
                                                                         : QByteArray();
}

bool configure() {
  QApplication::setApplicationName(QStringLiteral("Lumivale Quick Look"));
  QApplication::setDesktopFileName(QStringLiteral("com.lumivale.quicklook.panel"));
  // The desktop's stated preference, else the Qt platform theme's palette; the page's
  // prefers-color-scheme follows it through the engine's native theme.
  const bool dark = DesktopAppearance::prefersDark().value_or(
      QApplication::palette().color(QPalette::Window).lightness() < 128);
  // The panel's own widgets (toolbar, find bar) match the page.
  DesktopAppearance::applyPreference(dark);
  if (dark) {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--force-dark-mode"))
      qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
              flags + (flags.isEmpty() ? "" : " ") + "--force-dark-mode");
  }
  return dark;
}

} // namespace PanelEngine
