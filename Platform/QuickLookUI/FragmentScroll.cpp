#include "QuickLookUI/FragmentScroll.h"

#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace FragmentScroll {
namespace {

// Gives up after a minute: a page that never becomes ready is not scrolled.
const char kScript[] = R"JS((() => {
  let id = '';
  try { id = decodeURIComponent(location.hash.slice(1)); } catch { return; }
  if (!id) return;
  const started = Date.now();
  const scroll = () => {
    const target = document.getElementById(id) || document.getElementsByName(id)[0];
    if (target) target.scrollIntoView({ block: 'start' });
  };
  const wait = () => {
    if (document.documentElement.dataset.lumivaleReady === 'true')
      requestAnimationFrame(scroll);
    else if (Date.now() - started < 60000)
      setTimeout(wait, 50);
  };
  wait();
})();)JS";

} // namespace

void install(QWebEngineScriptCollection& scripts) {
  QWebEngineScript script;
  script.setName(QStringLiteral("lumivale-fragment-scroll"));
  script.setWorldId(QWebEngineScript::ApplicationWorld);
  script.setInjectionPoint(QWebEngineScript::DocumentReady);
  script.setRunsOnSubFrames(false);
  script.setSourceCode(QString::fromLatin1(kScript));
  scripts.insert(script);
}

} // namespace FragmentScroll
