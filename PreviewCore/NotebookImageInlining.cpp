#include "PreviewCore/NotebookImageInlining.h"

#include "Foundation/JSONSerialization.h"
#include "PreviewCore/ImageReferenceScanner.h"
#include "PreviewCore/NotebookCells.h"

#include <boost/json.hpp>

namespace json = boost::json;

namespace InlineLocalAssets {

std::string cellSourceText(const json::array& cells, std::size_t index) {
  if (index >= cells.size() || !cells[index].is_object())
    return {};
  return NotebookCells::sourceText(cells[index].get_object()).value_or(std::string());
}

std::optional<AttachmentMap> rewriteNotebookImagesInPlace(json::value& notebook,
                                                          const URL& baseDirectory,
                                                          const Reader& reader) {
  AttachmentMap attachments;
  std::uint64_t counter = 0;
  const bool isNotebook = NotebookCells::forEachMarkdownCell(
      notebook, [&](json::object& cell, const std::string& source) {
        if (source.find("![") == std::string::npos)
          return true;
        bool hasReference = false;
        forEachImageReference(source, [&](const ImageReference&) { hasReference = true; });
        if (!hasReference)
          return true;
        // Caps and repeated destinations are counted per cell; identifiers run on across cells.
        std::string rewritten =
            rewriteImageReferences(source, baseDirectory, reader, kNotebookPerImageByteCap,
                                   kNotebookPerCellByteCap, attachments, counter);
        cell["source"] = std::string_view(rewritten);
        return true;
      });
  if (!isNotebook)
    return std::nullopt;
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
