// PanelProbe: reports what the panel's page shows, for tests and benchmarks. Enabled by the
// environment variable LUMIVALE_PANEL_PROBE: "report" writes one line on standard error when an
// item's first text is on screen ("preview panel: first text item=N at=<epoch ms>") and one when
// its page is ready ("preview panel: ready item=N <JSON of the page's state>");
// "exit-after-first-text" and "exit-after-ready" also close the panel at that point. With the
// probe on, the reading tools report too ("preview panel: find 2 of 5 for <text>", "zoom 1.25",
// "pdf written <path>"), and LUMIVALE_PANEL_PDF_PATH names the file "Export as PDF" writes
// instead of asking with a file dialog.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class QWebEngineScriptCollection;

struct PanelProbe {
  enum class Exit { never, afterFirstText, afterReady };
  Exit exit = Exit::never;
  QString channel; // the console prefix the probe script reports through

  // The probe the environment asks for, if any.
  static std::optional<PanelProbe> fromEnvironment();
  // The probe a value of that variable asks for (empty: none).
  static std::optional<PanelProbe> fromMode(const QByteArray& mode);
  // Adds the probe script (in its own world, so the page cannot see or forge it).
  void install(QWebEngineScriptCollection& scripts) const;
};
