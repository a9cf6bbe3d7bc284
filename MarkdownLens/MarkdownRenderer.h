// MarkdownRenderer: turns one Markdown text into one self-contained HTML page: the template
// "markdown-template" filled with exactly the style sheets and scripts the text needs and the
// text itself as a JSON string literal. Stateless and thread-safe; the caches are HTMLTemplate's.
#pragma once

#include "Foundation/Bundle.h"

#include <string>
#include <string_view>

namespace MarkdownRenderer {

// The page for `markdown` (UTF-8) with the resources of `bundle`. Throws
// HTMLTemplate::Error when the template cannot be loaded; missing assets are left out.
std::string renderHTML(std::string_view markdown, const Bundle& bundle);

} // namespace MarkdownRenderer
