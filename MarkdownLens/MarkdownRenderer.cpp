#include "MarkdownLens/MarkdownRenderer.h"

#include "Foundation/JSONSerialization.h"
#include "Foundation/UTF8.h"
#include "PreviewCore/ContentDetection.h"
#include "PreviewCore/HTMLTemplate.h"
#include "PreviewCore/HTMLTemplateCache.h"
#include "PreviewCore/TokenizedTemplate.h"

namespace MarkdownRenderer {

namespace {

constexpr std::string_view kTemplateName = "markdown-template";
constexpr std::string_view kAssets = "markdown";

const std::string& styleSheet(std::string_view name, const Bundle& bundle) {
  return HTMLTemplate::cachedResourceText(name, "css", bundle, kAssets);
}

const std::string& script(std::string_view name, const Bundle& bundle) {
  return HTMLTemplate::cachedScriptText(name, "js", bundle, kAssets);
}

// Prism's core followed by the language components the fences name, in ascending order, one
// line feed between neighbours. The core takes its place even when it is missing.
std::string prismScripts(std::string_view markdown, const Bundle& bundle) {
  std::string joined = script("prism-core.min", bundle);
  for (const std::string& component : ContentDetection::fenceLanguages(markdown)) {
    const std::string& language = script("prism-lang-" + component + ".min", bundle);
    if (language.empty())
      continue;
    joined += '\n';
    joined += language;
  }
  return joined;
}

// The text as one JSON string literal; the empty literal for bytes that are not UTF-8.
std::string markdownLiteral(std::string_view markdown) {
  if (!isValidUTF8(markdown))
    return "\"\"";
  return JSONSerialization::stringLiteral(markdown);
}

} // namespace

std::string renderHTML(std::string_view markdown, const Bundle& bundle) {
  const HTMLTemplate::ParsedTemplate page =
      HTMLTemplate::templateNamed(kTemplateName, bundle, ExtensionModule::markdownLens);

  const bool hasCode = ContentDetection::hasCodeFences(markdown);
  const bool hasMermaid = ContentDetection::hasMermaidBlock(markdown);
  const bool hasMath = ContentDetection::hasMathematics(markdown);

  // The values refer to the cached assets (which live as long as the process) and to the two
  // texts built here, so each asset is copied once, into the page.
  const std::string prism = hasCode ? prismScripts(markdown, bundle) : std::string();
  const std::string literal = markdownLiteral(markdown);
  const std::string_view none;
  TokenizedTemplate::ValueViews values{
      {"GITHUB_CSS", styleSheet("github-markdown.min", bundle)},
      {"KATEX_CSS", hasMath ? std::string_view(styleSheet("katex.min", bundle)) : none},
      {"PRISM_CSS", hasCode ? std::string_view(styleSheet("prism.min", bundle)) : none},
      {"MARKED_JS", script("marked.min", bundle)},
      {"KATEX_JS", hasMath ? std::string_view(script("katex.min", bundle)) : none},
      {"COPY_TEX_JS", hasMath ? std::string_view(script("copy-tex.min", bundle)) : none},
      {"MERMAID_JS", hasMermaid ? std::string_view(script("mermaid.min", bundle)) : none},
      {"PRISM_JS", prism},
      {"MARKDOWN_JSON", literal},
  };
  return TokenizedTemplate::renderViews(*page, values);
}

} // namespace MarkdownRenderer
