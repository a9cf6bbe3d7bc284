#include "QuickLookUI/PanelProbe.h"

#include <QRandomGenerator>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace {

// Reports "first-text <epoch ms>" once the first frame that holds the page's text is painted
// (in the task right after that frame, so that work the page starts after its first paint does
// not count), watching from the document's creation on, then "ready <state>" once the page marks
// itself ready.
const char kProbeScript[] = R"JS((() => {
  const channel = %1;
  const send = (text) => console.info(channel + text);
  const hasText = () => {
    const content = document.getElementById('lumivale-content');
    if (content && content.firstElementChild) return true;
    const cells = document.getElementById('nbv-cells');
    if (cells && cells.firstElementChild) return true;
    return Boolean(document.getElementById('lumivale-error'));
  };
  const everything = (selector) => {
    const found = [];
    const walk = (root) => {
      found.push(...root.querySelectorAll(selector));
      for (const element of root.querySelectorAll('*')) if (element.shadowRoot) walk(element.shadowRoot);
    };
    walk(document);
    return found;
  };
  const state = () => ({
    title: document.title,
    dark: matchMedia('(prefers-color-scheme: dark)').matches,
    images: everything('img').map((image) => ({
      src: (image.getAttribute('src') || '').slice(0, 80),
      drawn: image.complete && image.naturalWidth > 0,
    })),
    diagrams: everything('.lumivale-diagram svg').length,
    diagramErrors: everything('.lumivale-diagram-error').length,
    placeholders: everything('.lumivale-image-placeholder').length,
    cells: document.querySelectorAll('.nbv-cell').length,
    error: document.getElementById('lumivale-error')?.textContent ?? '',
    text: (document.body ? document.body.innerText : '').slice(0, 300),
    links: everything('a[href]').map((link) => {
      const box = link.getBoundingClientRect();
      return { href: link.getAttribute('href'), x: Math.round(box.left + box.width / 2), y: Math.round(box.top + box.height / 2) };
    }),
    link: (() => {
      const link = document.querySelector('a[href^="http"]');
      if (!link) return null;
      const box = link.getBoundingClientRect();
      return { href: link.href, x: Math.round(box.left + box.width / 2), y: Math.round(box.top + box.height / 2) };
    })(),
  });
  let textSent = false;
  const sendFirstText = () => setTimeout(() => send('first-text ' + Date.now()), 0);
  // `inFrame`: called at the start of a frame, which then holds what the document holds now and
  // is painted before any task that comes after it.
  const poll = (inFrame) => {
    if (!textSent && hasText()) {
      textSent = true;
      inFrame ? sendFirstText() : requestAnimationFrame(sendFirstText);
    }
    if (document.documentElement?.dataset.lumivaleReady === 'true') {
      const report = () => send('ready ' + JSON.stringify(state()));
      textSent ? requestAnimationFrame(() => requestAnimationFrame(report)) : setTimeout(() => poll(false), 16);
      return;
    }
    requestAnimationFrame(() => poll(true));
  };
  poll(false);
})();)JS";

} // namespace

std::optional<PanelProbe> PanelProbe::fromEnvironment() {
  return fromMode(qgetenv("LUMIVALE_PANEL_PROBE"));
}

std::optional<PanelProbe> PanelProbe::fromMode(const QByteArray& mode) {
  if (mode.isEmpty())
    return std::nullopt;
  PanelProbe probe;
  if (mode == "exit-after-first-text")
    probe.exit = Exit::afterFirstText;
  else if (mode == "exit-after-ready")
    probe.exit = Exit::afterReady;
  probe.channel = QStringLiteral("lumivale-probe-%1: ")
                      .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
  return probe;
}

void PanelProbe::install(QWebEngineScriptCollection& scripts) const {
  QWebEngineScript script;
  script.setName(QStringLiteral("lumivale-panel-probe"));
  script.setWorldId(QWebEngineScript::ApplicationWorld);
  // From the document's start, so that text painted while the rest of a large page is still
  // being parsed counts when it is painted, not once the whole page is in.
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setRunsOnSubFrames(false);
  script.setSourceCode(
      QString::fromLatin1(kProbeScript).arg(QStringLiteral("'") + channel + QStringLiteral("'")));
  scripts.insert(script);
}
