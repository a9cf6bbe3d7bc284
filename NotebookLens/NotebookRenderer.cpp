#include "NotebookLens/NotebookRenderer.h"

#include "Foundation/HugePages.h"
#include "Foundation/JSONSerialization.h"
#include "Foundation/UTF8.h"
#include "NotebookLens/InPlacePage.h"
#include "NotebookLens/OutputBounding.h"
#include "PreviewCore/ContentDetection.h"
#include "PreviewCore/HTMLTemplate.h"
#include "PreviewCore/HTMLTemplateCache.h"
#include "PreviewCore/NotebookCells.h"
#include "PreviewCore/TokenizedTemplate.h"

#include <boost/json.hpp>
#include <iterator>
#include <optional>
#include <utility>

namespace json = boost::json;

namespace {

constexpr std::string_view kAssetDirectory = "notebook";
constexpr const char* kInvalidJSONDescription =
    "The notebook could not be shown because its JSON text is not valid UTF-8.";

// True when some Markdown cell's source text, tested alone, satisfies `test`.
template <class Test> bool anyMarkdownCell(const json::value& notebook, Test test) {
  bool found = false;
  NotebookCells::forEachMarkdownCell(notebook, [&](const json::object&, const std::string& text) {
    found = test(text);
    return !found;
  });
  return found;
}

constexpr std::string_view kNotebookJSONToken = "NOTEBOOK_JSON";

// An upper estimate of the written JSON's length from the tree's shape, for reserving the
// page in advance; escapes beyond one in sixteen bytes only cost a reallocation. Memory that is
// reserved but never written is never touched.
std::size_t estimatedJSONSize(const json::value& value, std::size_t depth) {
  auto text = [](std::size_t length) { return length + length / 16 + 2; };
  switch (value.kind()) {
  case json::kind::string:
    if (auto reference = JSONSerialization::sourceReference(value.get_string()))
      return text(reference->length);
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

// Appends the notebook's JSON text. It is UTF-8 without a further check: the parser refuses
// text that is not (lone surrogate escapes included), and output bounding and image inlining
// cut and join texts only at character boundaries. It cannot close the page's script element:
// the writer escapes every "/".
void appendNotebookJSON(std::string& html, const json::value& notebook) {
  JSONSerialization::append(html, notebook);
}

// Moves the top-level "cells" member behind the others. A page shows a big notebook's first
// cells while the browser is still reading the rest of its JSON; with the metadata ahead of
// the cells, it knows the kernel's language (how to highlight the code) before the first cell.
// The order of a notebook's members carries no meaning.
void moveCellsLast(json::value& notebook) {
  json::object* object = notebook.if_object();
  if (!object)
    return;
  auto cells = object->find("cells");
  if (cells == object->end() || std::next(cells) == object->end())
    return;
  json::value value = std::move(cells->value());
  object->stable_erase(cells);
  object->emplace("cells", std::move(value));
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
  return renderParsedHTML(std::move(parsed), filename, bundle, std::move(pageBuffer), SourceText());
}

std::string renderParsedHTML(json::value&& parsed, std::string_view filename, const Bundle& bundle,
                             std::string&& pageBuffer, SourceText&& source) {
  json::value notebook = std::move(parsed);
  OutputBounding::boundNotebookOutputs(notebook);
  moveCellsLast(notebook);

  const bool hasMathematics = anyMarkdownCell(
      notebook, [](const std::string& text) { return text.find('$') != std::string::npos; });
  const bool hasMermaid = anyMarkdownCell(
      notebook, [](const std::string& text) { return ContentDetection::hasMermaidBlock(text); });

  // The notebook's JSON is written straight into the page (a large notebook is not held twice)
  // so the template comes first; when it is missing, the JSON is still written and checked so
  // that the writer's failures come before the template's.
  HTMLTemplate::ParsedTemplate page;
  try {
    page = HTMLTemplate::templateNamed("notebook-template", bundle, ExtensionModule::notebookLens);
  } catch (...) {
    std::string notebookJSON;
    JSONSerialization::appendReferencing(
        notebookJSON, notebook, [](std::string&, const JSONSerialization::SourceReference&) {});
    if (!isValidUTF8(notebookJSON))
      throw Error::invalidJSON();
    throw;
  }

  // The values refer to the cached assets (which live as long as the process), so each asset is
  // copied once, into the page.
  auto style = [&](std::string_view name) -> std::string_view {
    return HTMLTemplate::cachedResourceText(name, "css", bundle, kAssetDirectory);
  };
  auto script = [&](std::string_view name) -> std::string_view {
    return HTMLTemplate::cachedScriptText(name, "js", bundle, kAssetDirectory);
  };
  const std::string escapedFilename = escapeFilename(filename);
  const std::string_view none;
  const TokenizedTemplate::ValueViews values{
      {"PRISM_CSS", style("prism.min")},
      {"KATEX_CSS", hasMathematics ? style("katex.min") : none},
      {"MARKED_JS", script("marked.min")},
      {"PRISM_JS", script("prism.min")},
      {"PRISM_PYTHON_JS", script("prism-python.min")},
      {"KATEX_JS", hasMathematics ? script("katex.min") : none},
      {"NBV_JS", script("nbv")},
      {"MERMAID_JS", hasMermaid ? script("mermaid.min") : none},
      {"FILENAME", escapedFilename},
  };

  const std::size_t size = TokenizedTemplate::filledSize(*page, [&](std::string_view name) {
    if (name == kNotebookJSONToken)
      return estimatedJSONSize(notebook, 0);
    auto value = values.find(name);
    return value == values.end() ? 0 : value->second.size();
  });

  if (!source.references.empty()) {
    // The large strings are still in the buffer's bytes: the page is written ahead of them.
    InPlacePage html(std::move(pageBuffer), source.offset, std::move(source.references), size);
    std::string pieces; // the JSON between two strings taken from the bytes
    for (const TokenizedTemplate::Segment& segment : *page) {
      if (segment.kind == TokenizedTemplate::Segment::Kind::literal) {
        html.append(segment.text);
      } else if (segment.text == kNotebookJSONToken) {
        JSONSerialization::appendReferencing(
            pieces, notebook,
            [&](std::string& out, const JSONSerialization::SourceReference& reference) {
              html.append(out);
              out.clear();
              html.appendStringLiteral(reference);
            });
        html.append(pieces);
        pieces.clear();
      } else if (auto value = values.find(segment.text); value != values.end()) {
        html.append(value->second);
      }
    }
    return html.finish();
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
  TokenizedTemplate::fillInto(html, *page, [&](std::string& out, std::string_view name) {
    if (name == kNotebookJSONToken)
      appendNotebookJSON(out, notebook);
    else if (auto value = values.find(name); value != values.end())
      out.append(value->second);
  });
  return html;
}

} // namespace NotebookRenderer
