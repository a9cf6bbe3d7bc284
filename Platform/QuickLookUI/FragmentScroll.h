// FragmentScroll: scrolls a freshly loaded preview page to the element its address's fragment
// names. The engine's own scroll happens at load, before the page's scripts have made the
// document (and its headings' ids); this waits until the page marks itself ready.
#pragma once

class QWebEngineScriptCollection;

namespace FragmentScroll {

// Adds the script, in its own world (the page cannot see or change it).
void install(QWebEngineScriptCollection& scripts);

} // namespace FragmentScroll
