// ErrorPage: the page the panel shows when a preview failed: the document's name and the
// error's description, in the light or dark appearance, with no script and no request.
#pragma once

#include <string>

namespace ErrorPage {

std::string html(const std::string& documentName, const std::string& description);

// `text` with &, <, >, " and ' replaced by character references.
std::string escapeHTML(const std::string& text);

} // namespace ErrorPage
