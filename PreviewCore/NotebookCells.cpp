#include "PreviewCore/NotebookCells.h"

#include <algorithm>

namespace json = boost::json;

namespace NotebookCells {

const json::array* cellsOf(const json::value& notebook) {
  const json::object* top = notebook.if_object();
  const json::value* cells = top ? top->if_contains("cells") : nullptr;
  if (!cells || !cells->is_array())
    return nullptr;
  const json::array& array = cells->get_array();
  if (!std::all_of(array.begin(), array.end(), [](const json::value& v) { return v.is_object(); }))
    return nullptr;
  return &array;
}

json::array* cellsOf(json::value& notebook) {
  return const_cast<json::array*>(cellsOf(std::as_const(notebook)));
}

bool isMarkdownCell(const json::object& cell) {
  const json::value* type = cell.if_contains("cell_type");
  return type && type->is_string() && type->get_string() == "markdown";
}

std::optional<std::string> sourceText(const json::object& cell) {
  const json::value* source = cell.if_contains("source");
  if (!source)
    return std::nullopt;
  if (source->is_string())
    return std::string(source->get_string());
  if (!source->is_array())
    return std::nullopt;
  std::string text;
  for (const json::value& piece : source->get_array()) {
    if (!piece.is_string())
      return std::nullopt;
    text.append(piece.get_string());
  }
  return text;
}

} // namespace NotebookCells
