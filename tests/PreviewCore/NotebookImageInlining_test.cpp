#include "Foundation/JSONSerialization.h"
#include "PreviewCore/InlineLocalAssets.h"
#include "PreviewCore/NotebookImageInlining.h"

#include <boost/json.hpp>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace json = boost::json;
using namespace InlineLocalAssets;

namespace {

constexpr std::size_t kMiB = 1048576;

// Files of given sizes under /nb; records every read.
class FakeFiles {
public:
  void add(const std::string& name, std::size_t size) { sizes_["/nb/" + name] = size; }
  Reader reader() {
    return [this](const URL& url) {
      reads.push_back(url.path());
      auto found = sizes_.find(url.path());
      if (found == sizes_.end())
        throw std::runtime_error("no such file");
      return std::string(found->second, 'i');
    };
  }
  std::vector<std::string> reads;

private:
  std::map<std::string, std::size_t> sizes_;
};

const URL kBase = URL::fileURLWithPath("/nb");

json::object cell(std::string_view type, json::value source) {
  return json::object{{"cell_type", type}, {"metadata", json::object{}}, {"source", source}};
}

std::string notebookBytes(json::array cells) {
  return JSONSerialization::write(json::object{{"cells", std::move(cells)}, {"nbformat", 4}});
}

json::value sourceOf(const NotebookResult& result, std::size_t index) {
  return JSONSerialization::parse(result.data).at("cells").at(index).at("source");
}

} // namespace

TEST(NotebookImageInlining, AnythingButANotebookObjectGivesNothing) {
  FakeFiles files;
  for (std::string_view bytes :
       {"", "not json", "[{\"cells\": []}]", "{\"nbformat\": 4}", "{\"cells\": {}}",
        "{\"cells\": [{\"cell_type\": \"markdown\", \"source\": \"![a](a.png)\"}, 1]}"}) {
    EXPECT_FALSE(rewriteNotebookImages(bytes, kBase, files.reader())) << bytes;
  }
  EXPECT_TRUE(files.reads.empty());
}

TEST(NotebookImageInlining, NotebookWithoutReferencesComesBackCompact) {
  FakeFiles files;
  std::string bytes =
      "{\n  \"cells\": [ {\"cell_type\": \"code\", \"source\": [\"![a](a.png)\"]} ],"
      "\n  \"metadata\": {\"path\": \"a/b\"}\n}";
  files.add("a.png", 10);
  auto result = rewriteNotebookImages(bytes, kBase, files.reader());
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->attachments.empty());
  EXPECT_EQ(result->data, "{\"cells\":[{\"cell_type\":\"code\",\"source\":[\"![a](a.png)\"]}],"
                          "\"metadata\":{\"path\":\"a\\/b\"}}");
  EXPECT_TRUE(files.reads.empty());
}

TEST(NotebookImageInlining, MarkdownSourcesAreJoinedBeforeTheScan) {
  FakeFiles files;
  files.add("pics/a.png", 3);
  auto result = rewriteNotebookImages(
      notebookBytes({cell("markdown", json::array{"see ![pl", "ot](pics/a.png \"T\")\n"}),
                     cell("markdown", json::array{"![web](https://e.org/x.png)", "\n"}),
                     cell("markdown", json::array{"no images", "\n"}),
                     cell("Markdown", "![a](pics/a.png)")}),
      kBase, files.reader());
  ASSERT_TRUE(result);
  EXPECT_EQ(sourceOf(*result, 0), "see ![plot](cid:lumivale-asset-0 \"T\")\n");
  EXPECT_EQ(sourceOf(*result, 1), "![web](https://e.org/x.png)\n");  // matched: joined
  EXPECT_EQ(sourceOf(*result, 2), (json::array{"no images", "\n"})); // no match: as it was
  EXPECT_EQ(sourceOf(*result, 3), "![a](pics/a.png)");
  ASSERT_EQ(result->attachments.size(), 1u);
  EXPECT_EQ(result->attachments.at("lumivale-asset-0"), (Attachment{"iii", "png"}));
  EXPECT_EQ(files.reads, std::vector<std::string>{"/nb/pics/a.png"});
}

TEST(NotebookImageInlining, IdentifiersRunAcrossCellsAndRepeatsAreSharedOnlyWithinACell) {
  FakeFiles files;
  files.add("a.png", 1);
  files.add("b.gif", 2);
  auto result = rewriteNotebookImages(
      notebookBytes({cell("markdown", "![1](a.png) ![2](a.png)"), cell("code", "![c](a.png)"),
                     cell("markdown", "![3](a.png) ![4](b.gif)")}),
      kBase, files.reader());
  ASSERT_TRUE(result);
  EXPECT_EQ(sourceOf(*result, 0), "![1](cid:lumivale-asset-0) ![2](cid:lumivale-asset-0)");
  EXPECT_EQ(sourceOf(*result, 1), "![c](a.png)");
  EXPECT_EQ(sourceOf(*result, 2), "![3](cid:lumivale-asset-1) ![4](cid:lumivale-asset-2)");
  EXPECT_EQ(result->attachments.size(), 3u);
  EXPECT_EQ(result->attachments.at("lumivale-asset-2").pathExtension, "gif");
  EXPECT_EQ(files.reads.size(), 3u); // a.png read once per cell, then b.gif
}

TEST(NotebookImageInlining, CumulativeCapIsPerCell) {
  FakeFiles files;
  for (const char* name : {"a.png", "b.png", "c.png", "d.png"})
    files.add(name, 3 * kMiB);
  auto twoCells = rewriteNotebookImages(notebookBytes({cell("markdown", "![](a.png)![](b.png)"),
                                                       cell("markdown", "![](c.png)![](d.png)")}),
                                        kBase, files.reader());
  ASSERT_TRUE(twoCells);
  EXPECT_EQ(twoCells->attachments.size(), 4u);

  auto oneCell = rewriteNotebookImages(
      notebookBytes({cell("markdown", "![](a.png)![](b.png)![](c.png)")}), kBase, files.reader());
  ASSERT_TRUE(oneCell);
  EXPECT_EQ(oneCell->attachments.size(), 2u);
  EXPECT_EQ(sourceOf(*oneCell, 0), "![](cid:lumivale-asset-0)![](cid:lumivale-asset-1)![](c.png)");
}

TEST(NotebookImageInlining, PerImageCapIsInclusive) {
  FakeFiles files;
  files.add("exact.png", 4194304);
  files.add("over.png", 4194305);
  auto result = rewriteNotebookImages(
      notebookBytes({cell("markdown", "![](exact.png)"), cell("markdown", "![](over.png)")}), kBase,
      files.reader());
  ASSERT_TRUE(result);
  EXPECT_EQ(sourceOf(*result, 0), "![](cid:lumivale-asset-0)");
  EXPECT_EQ(sourceOf(*result, 1), "![](over.png)");
  EXPECT_EQ(result->attachments.size(), 1u);
}

TEST(NotebookImageInlining, CellSourceText) {
  json::array cells{cell("markdown", json::array{"a", "b"}), cell("markdown", "t"),
                    cell("markdown", json::array{"a", 1}),   cell("markdown", 7),
                    json::object{{"cell_type", "markdown"}}, 5};
  EXPECT_EQ(cellSourceText(cells, 0), "ab");
  EXPECT_EQ(cellSourceText(cells, 1), "t");
  EXPECT_EQ(cellSourceText(cells, 2), "");
  EXPECT_EQ(cellSourceText(cells, 3), "");
  EXPECT_EQ(cellSourceText(cells, 4), "");
  EXPECT_EQ(cellSourceText(cells, 5), "");
  EXPECT_EQ(cellSourceText(cells, 99), "");
}

TEST(NotebookImageInlining, InPlaceFormLeavesNonNotebooksUntouched) {
  FakeFiles files;
  json::value array = json::array{json::object{{"cells", json::array{}}}};
  json::value copy = array;
  EXPECT_FALSE(rewriteNotebookImagesInPlace(copy, kBase, files.reader()));
  EXPECT_EQ(copy, array);
}

TEST(NotebookImageInlining, CellsWithoutAMatchKeepTheirSourceAsItWas) {
  FakeFiles files;
  files.add("a.png", 4);
  json::object withAttachments = cell("markdown", "![x](attachment:img.png) ![y](a.png)");
  withAttachments["attachments"] = json::object{{"img.png", json::object{{"image/png", "AAA="}}}};
  withAttachments["id"] = "c1";
  auto result = rewriteNotebookImages(
      notebookBytes({cell("markdown", json::array{"![not an image", "\n"}), withAttachments}),
      kBase, files.reader());
  ASSERT_TRUE(result);
  json::value notebook = JSONSerialization::parse(result->data);
  EXPECT_EQ(sourceOf(*result, 0), (json::array{"![not an image", "\n"}));
  const json::object& rewritten = notebook.at("cells").at(1).as_object();
  EXPECT_EQ(rewritten.at("source"), "![x](attachment:img.png) ![y](cid:lumivale-asset-0)");
  EXPECT_EQ(rewritten.at("attachments"), withAttachments.at("attachments"));
  EXPECT_EQ(rewritten.at("id"), "c1");
  EXPECT_EQ(notebook.at("nbformat"), 4);
}

TEST(NotebookImageInlining, FailedImagesUseNoIdentifierAndAreTriedAgain) {
  FakeFiles files;
  files.add("a.png", 5);
  auto result = rewriteNotebookImages(
      notebookBytes({cell("markdown", "![](missing.png) ![](missing.png) ![](a.png)"),
                     cell("markdown", "![](missing.png)")}),
      kBase, files.reader());
  ASSERT_TRUE(result);
  EXPECT_EQ(sourceOf(*result, 0), "![](missing.png) ![](missing.png) ![](cid:lumivale-asset-0)");
  EXPECT_EQ(sourceOf(*result, 1), "![](missing.png)");
  EXPECT_EQ(result->attachments.size(), 1u);
  EXPECT_EQ(files.reads, (std::vector<std::string>{"/nb/missing.png", "/nb/missing.png",
                                                   "/nb/a.png", "/nb/missing.png"}));
}

TEST(NotebookImageInlining, EmptyCellsArrayIsANotebook) {
  FakeFiles files;
  auto result = rewriteNotebookImages("{\"cells\": [], \"metadata\": {}}", kBase, files.reader());
  ASSERT_TRUE(result);
  EXPECT_EQ(result->data, "{\"cells\":[],\"metadata\":{}}");
  EXPECT_TRUE(result->attachments.empty());
}
