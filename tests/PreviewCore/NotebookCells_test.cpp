#include "PreviewCore/NotebookCells.h"

#include <boost/json.hpp>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace json = boost::json;

TEST(NotebookCellsTest, VisitsMarkdownCellsWithUsableSourcesInOrder) {
  json::value notebook = json::parse(R"({"cells": [
    {"cell_type": "markdown", "source": ["a", "b"]},
    {"cell_type": "code", "source": "code"},
    {"cell_type": "Markdown", "source": "wrong case"},
    {"cell_type": "markdown", "source": ["x", 1]},
    {"cell_type": "markdown"},
    {"cell_type": "markdown", "source": "last"}]})");
  std::vector<std::string> seen;
  EXPECT_TRUE(NotebookCells::forEachMarkdownCell(
      notebook, [&](json::object& cell, const std::string& source) {
        seen.push_back(source);
        cell["seen"] = true; // cells of a mutable notebook are mutable
        return true;
      }));
  EXPECT_EQ(seen, (std::vector<std::string>{"ab", "last"}));
  EXPECT_TRUE(notebook.at("cells").at(5).as_object().contains("seen"));

  // The visit stops when asked to.
  seen.clear();
  const json::value& constant = notebook;
  NotebookCells::forEachMarkdownCell(constant, [&](const json::object&, const std::string& s) {
    seen.push_back(s);
    return false;
  });
  EXPECT_EQ(seen, std::vector<std::string>{"ab"});
}

TEST(NotebookCellsTest, NotebooksWithoutACellsArrayOfObjectsAreNotWalked) {
  for (const char* text : {R"([])", R"({})", R"({"cells": {}})",
                           R"({"cells": [{"cell_type": "markdown", "source": "a"}, 5]})"}) {
    json::value notebook = json::parse(text);
    bool visited = false;
    EXPECT_FALSE(NotebookCells::forEachMarkdownCell(notebook, [&](json::object&,
                                                                  const std::string&) {
      visited = true;
      return true;
    })) << text;
    EXPECT_FALSE(visited) << text;
  }
  json::value empty = json::parse(R"({"cells": []})");
  EXPECT_TRUE(NotebookCells::forEachMarkdownCell(
      empty, [](json::object&, const std::string&) { return true; }));
}
