// NotebookCells: the one walk over a notebook's Markdown cells, shared by the notebook renderer
// (which tests their sources for mathematics and diagrams) and the notebook image inliner (which
// rewrites them). Pure functions over a parsed notebook.
#pragma once

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace NotebookCells {

// The notebook's cells: its "cells" member when the notebook is an object and that member is an
// array of objects; null otherwise (no cell of such a notebook is looked at).
const boost::json::array* cellsOf(const boost::json::value& notebook);
boost::json::array* cellsOf(boost::json::value& notebook);

// True when the cell's "cell_type" is the text "markdown" (exact, case-sensitive).
bool isMarkdownCell(const boost::json::object& cell);

// The cell's "source" as one text: a text, or an array of texts joined with nothing between
// them; nullopt for any other shape or when it is missing.
std::optional<std::string> sourceText(const boost::json::object& cell);

// Calls visit(cell, source) for each Markdown cell with a source text, in order, while visit
// returns true; the cell is mutable when the notebook is. False, with nothing visited, when the
// notebook has no cells array of objects (see cellsOf).
template <class Notebook, class Visit> bool forEachMarkdownCell(Notebook& notebook, Visit&& visit) {
  auto* cells = cellsOf(notebook);
  if (!cells)
    return false;
  for (auto& value : *cells) {
    auto& cell = value.as_object();
    if (!isMarkdownCell(cell))
      continue;
    if (std::optional<std::string> source = sourceText(cell); source && !visit(cell, *source))
      break;
  }
  return true;
}

} // namespace NotebookCells
