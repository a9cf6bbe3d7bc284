#include "NotebookLens/NotebookRenderer.h"

#include "Foundation/HugePages.h"
#include "Foundation/JSONSerialization.h"
#include "Foundation/UTF8.h"
#include "NotebookLens/OutputBounding.h"
#include "PreviewCore/ContentDetection.h"
#include "PreviewCore/HTMLTemplate.h"
#include "PreviewCore/TokenizedTemplate.h"

#include <boost/json.hpp>
#include <optional>
#include <utility>

namespace json = boost::json;

namespace {

constexpr std::string_view kAssetDirectory = "notebook";
constexpr const char* kInvalidJSONDescription =
    "The notebook could not be shown because its JSON text is not valid UTF-8.";

// The cell's "source" as one text: a text, or an array of texts joined with nothing between
// them. Nullopt for any other shape.
std::optional<std::string> sourceText(const json::object& cell) {
  const json::value* source = cell.if_contains("source");
  if (!source)
    return std::nullopt;
  if (source->is_string())
    return std::string(source->get_string());
  if (!source->is_array())
    return std::nullopt;
  std::string text;
  for (const json::value& element : source->get_array()) {
    if (!element.is_string())
      return std::nullopt;
    text.append(element.get_string());
  }
  return text;
}

// True when some Markdown cell's source text, tested alone, satisfies `test`.
template <class Test> bool anyMarkdownCell(const json::value& notebook, Test test) {
  const json::object* top = notebook.if_object();
  if (!top)
    return false;
  const json::value* cells = top->if_contains("cells");
  if (!cells || !cells->is_array())
    return false;
  for (const json::value& cell : cells->get_array())
    if (!cell.is_object())
      return false;
  for (const json::value& cellValue : cells->get_array()) {
    const json::object& cell = cellValue.get_object();
    const json::value* type = cell.if_contains("cell_type");
    if (!type || !type->is_string() || type->get_string() != "markdown")
      continue;
    if (std::optional<std::string> text = sourceText(cell); text && test(*text))
      return true;
  }
  return false;
}

constexpr std::string_view kNotebookJSONToken = "NOTEBOOK_JSON";

// An upper estimate of the written JSON's length from the tree's shape, for reserving the
// page in advance; escapes beyond one in sixteen bytes only cost a reallocation. Memory that is
// reserved but never written is never touched.
std::size_t estimatedJSONSize(const json::value& value, std::size_t depth) {
  auto text = [](std::size_t length) { return length + length / 16 + 2; };
  switch (value.kind()) {
  case json::kind::string:
    return text(value.get_string().size());
  case json::kind::array: {
    std::size_t size = 2 + value.get_array().size();
    if (depth < JSONSerialization::kMaxDepth)
      for (const json::value& element : value.get_array())
        size += estimatedJSONSize(element, depth + 1);
    return size;
  }
  case json::kind::object: {
    std::size_t size = 2 + 2 * value.get_object().size();
    if (depth < JSONSerialization::kMaxDepth)
      for (const json::key_value_pair& member : value.get_object())
        size += text(member.key().size()) + estimatedJSONSize(member.value(), depth + 1);
    return size;
  }
  default:
    return 24;
  }
}

// Appends the notebook's JSON text: it must be UTF-8, and it must not close the page's script
// element (the writer escapes every "/", so the replacement is only the guarantee).
void appendNotebookJSON(std::string& html, const json::value& notebook) {
  const std::size_t start = html.size();
  JSONSerialization::append(html, notebook);
  const std::string_view written = std::string_view(html).substr(start);
  if (!isValidUTF8(written))
    throw NotebookRenderer::Error::invalidJSON();
  if (written.find("</script") != std::string_view::npos) {
    std::string escaped = HTMLTemplate::escapeScript(written);
    html.replace(start, std::string::npos, escaped);
  }
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, start)) {
    out.append(text, start, at - start);
    out.append(to);
    start = at + from.size();
  }
  if (start == 0)
    return;
  out.append(text, start);
  text = std::move(out);
}

} // namespace

namespace NotebookRenderer {

const char* Error::what() const noexcept {
  return kInvalidJSONDescription;
}

NSError Error::nsError() const {
  return {"NotebookRenderer.Error", 0, kInvalidJSONDescription};
}

std::string escapeFilename(std::string_view filename) {
  std::string text(filename);
  replaceAll(text, "&", "&amp;");
  replaceAll(text, "<", "&lt;");
  replaceAll(text, ">", "&gt;");
  replaceAll(text, "\"", "&quot;");
  return text;
}

std::string renderHTML(std::string_view notebookData, std::string_view filename,
                       const Bundle& bundle) {
  return renderParsedHTML(JSONSerialization::parse(notebookData), filename, bundle);
}

std::string renderParsedHTML(json::value&& parsed, std::string_view filename,
                             const Bundle& bundle) {
  return renderParsedHTML(std::move(parsed), filename, bundle, std::string());
}

std::string renderParsedHTML(json::value&& parsed, std::string_view filename, const Bundle& bundle,
                             std::string&& pageBuffer) {
  json::value notebook = std::move(parsed);
  OutputBounding::boundNotebookOutputs(notebook);

  const bool hasMathematics = anyMarkdownCell(
      notebook, [](const std::string& text) { return text.find('$') != std::string::npos; });
  const bool hasMermaid = anyMarkdownCell(
      notebook, [](const std::string& text) { return ContentDetection::hasMermaidBlock(text); });

  // The notebook's JSON is written straight into the page (a large notebook is not held twice)
  // so the template comes first; when it is missing, the JSON is still written and checked so
  // that the writer's failures come before the template's.
  HTMLTemplate::ParsedTemplate page;
  try {
    page = HTMLTemplate::templateNamed("notebook-template", bundle);
  } catch (...) {
    std::string notebookJSON = JSONSerialization::write(notebook);
    if (!isValidUTF8(notebookJSON))
      throw Error::invalidJSON();
    throw;
  }

  auto style = [&](std::string_view name) {
    return HTMLTemplate::resourceText(name, "css", bundle, kAssetDirectory);
  };
  auto script = [&](std::string_view name) {
    return HTMLTemplate::scriptText(name, "js", bundle, kAssetDirectory);
  };
  TokenizedTemplate::Values values;
  values["PRISM_CSS"] = style("prism.min");
  values["KATEX_CSS"] = hasMathematics ? style("katex.min") : std::string();
  values["MARKED_JS"] = script("marked.min");
  values["PRISM_JS"] = script("prism.min");
  values["PRISM_PYTHON_JS"] = script("prism-python.min");
  values["KATEX_JS"] = hasMathematics ? script("katex.min") : std::string();
  values["NBV_JS"] = script("nbv");
  values["MERMAID_JS"] = hasMermaid ? script("mermaid.min") : std::string();
  values["FILENAME"] = escapeFilename(filename);

  std::size_t size = 0;
  for (const TokenizedTemplate::Segment& segment : *page) {
    if (segment.kind == TokenizedTemplate::Segment::Kind::literal)
      size += segment.text.size();
    else if (segment.text == kNotebookJSONToken)
      size += estimatedJSONSize(notebook, 0);
    else if (auto value = values.find(segment.text); value != values.end())
      size += value->second.size();
  }
  // A buffer much larger than the page (outputs were shortened) is let go rather than kept
  // alive, mostly empty, for as long as the page.
  std::string html;
  if (size >= pageBuffer.capacity() / 2) {
    html = std::move(pageBuffer);
    html.clear();
  }
  pageBuffer = std::string();
  reserveWithHugePages(html, size);
  for (const TokenizedTemplate::Segment& segment : *page) {
    if (segment.kind == TokenizedTemplate::Segment::Kind::literal)
      html.append(segment.text);
    else if (segment.text == kNotebookJSONToken)
      appendNotebookJSON(html, notebook);
    else if (auto value = values.find(segment.text); value != values.end())
      html.append(value->second);
  }
  return html;
}

} // namespace NotebookRenderer
