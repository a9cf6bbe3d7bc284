#include "QuickLookUI/ErrorPage.h"

namespace ErrorPage {

std::string escapeHTML(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\'':
      out += "&#39;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

std::string html(const std::string& documentName, const std::string& description) {
  return R"(<!DOCTYPE html>
<html lang="en" data-lumivale-ready="true"><head><meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'">
<meta name="color-scheme" content="light dark">
<title>)" +
         escapeHTML(documentName) +
         R"(</title>
<style>
html { background: #ffffff; color: #1f2328; }
@media (prefers-color-scheme: dark) { html { background: #0d1117; color: #f0f6fc; } }
body { margin: 0; min-height: 100vh; display: flex; align-items: center; justify-content: center;
  font: 15px/1.5 -apple-system, "Segoe UI", "Noto Sans", Helvetica, Arial, sans-serif; }
#lumivale-error { max-width: 36em; padding: 2em; text-align: center; }
h1 { font-size: 1.25em; font-weight: 600; margin: 0 0 .5em; overflow-wrap: anywhere; }
p { margin: 0; color: #59636e; overflow-wrap: anywhere; white-space: pre-wrap; }
@media (prefers-color-scheme: dark) { p { color: #9198a1; } }
</style></head>
<body><div id="lumivale-error" role="alert"><h1>)" +
         escapeHTML(documentName) + "</h1><p>" + escapeHTML(description) +
         "</p></div></body></html>\n";
}

} // namespace ErrorPage
