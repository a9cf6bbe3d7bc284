#include "PreviewCore/NotebookImageInlining.h"

#include "Foundation/JSONSerialization.h"
#include "PreviewCore/ImageReferenceScanner.h"

#include <algorithm>
#include <boost/json.hpp>

namespace json = boost::json;

namespace InlineLocalAssets {

std::string cellSourceText(const json::array& cells, std::size_t index) {
  if (index >= cells.size() || !cells[index].is_object())
    return {};
  const json::value* source = cells[index].get_object().if_contains("source");
  if (!source)
    return {};
  if (source->is_string())
    return std::string(source->get_string());
  if (!source->is_array())
    return {};
  const json::array& pieces = source->get_array();
  if (!std::all_of(pieces.begin(), pieces.end(),
                   [](const json::value& v) { return v.is_string(); }))
    return {};
  std::string text;
  for (const json::value& piece : pieces)
    text.append(piece.get_string());
  return text;
}

std::optional<AttachmentMap> rewriteNotebookImagesInPlace(json::value& notebook,
                                                          const URL& baseDirectory,
                                                          const Reader& reader) {
  json::object* top = notebook.if_object();
  if (!top)
    return std::nullopt;
  json::value* cellsValue = top->if_contains("cells");
  if (!cellsValue || !cellsValue->is_array())
    return std::nullopt;
  json::array& cells = cellsValue->get_array();
  if (!std::all_of(cells.begin(), cells.end(), [](const json::value& v) { return v.is_object(); }))
    return std::nullopt;

  AttachmentMap attachments;
  std::uint64_t counter = 0;
  for (std::size_t index = 0; index < cells.size(); ++index) {
    json::object& cell = cells[index].get_object();
    const json::value* type = cell.if_contains("cell_type");
    if (!type || !type->is_string() || type->get_string() != "markdown")
      continue;
    std::string source = cellSourceText(cells, index);
    if (source.find("![") == std::string::npos)
      continue;
    bool hasReference = false;
    forEachImageReference(source, [&](const ImageReference&) { hasReference = true; });
    if (!hasReference)
      continue;
    // Caps and repeated destinations are counted per cell; identifiers run on across cells.
    std::string rewritten =
        rewriteImageReferences(source, baseDirectory, reader, kNotebookPerImageByteCap,
                               kNotebookPerCellByteCap, attachments, counter);
    cell["source"] = std::string_view(rewritten);
  }
  return attachments;
}

std::optional<NotebookResult> rewriteNotebookImages(std::string_view notebookData,
                                                    const URL& baseDirectory,
                                                    const Reader& reader) {
  json::value notebook;
  try {
    notebook = JSONSerialization::parse(notebookData);
  } catch (...) {
    return std::nullopt;
  }
  std::optional<AttachmentMap> attachments =
      rewriteNotebookImagesInPlace(notebook, baseDirectory, reader);
  if (!attachments)
    return std::nullopt;
  NotebookResult result;
  try {
    result.data = JSONSerialization::write(notebook);
  } catch (...) {
    return std::nullopt;
  }
  result.attachments = std::move(*attachments);
  return result;
}

} // namespace InlineLocalAssets
