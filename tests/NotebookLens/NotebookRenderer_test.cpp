#include "Foundation/JSONSerialization.h"
#include "NotebookLens/NotebookRenderer.h"
#include "NotebookLens/OutputDataInSource.h"
#include "PreviewCore/HTMLTemplate.h"
#include "TemporaryBundle.h"

#include <atomic>
#include <boost/json.hpp>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace json = boost::json;

namespace {

// A bundle whose template shows every token between markers, with one-word assets.
class NotebookRendererTest : public ::testing::Test {
protected:
  void SetUp() override {
    resources.writeResource("notebook-template.html",
                            "PC[%%PRISM_CSS%%]KC[%%KATEX_CSS%%]MJ[%%MARKED_JS%%]PJ[%%PRISM_JS%%]"
                            "PY[%%PRISM_PYTHON_JS%%]KJ[%%KATEX_JS%%]NB[%%NBV_JS%%]"
                            "MM[%%MERMAID_JS%%]JSON[%%NOTEBOOK_JSON%%]END FN[%%FILENAME%%]");
    resources.writeResource("notebook/prism.min.css", "prism-css");
    resources.writeResource("notebook/katex.min.css", "katex-css");
    resources.writeResource("notebook/marked.min.js", "marked-js");
    resources.writeResource("notebook/prism.min.js", "prism-js");
    resources.writeResource("notebook/prism-python.min.js", "python-js");
    resources.writeResource("notebook/katex.min.js", "katex-js");
    resources.writeResource("notebook/nbv.js", "nbv-js</script>");
    resources.writeResource("notebook/mermaid.min.js", "mermaid-js");
    bundle = resources.open();
  }

  std::string render(const json::value& notebook, std::string_view filename = "n.ipynb") {
    return NotebookRenderer::renderHTML(JSONSerialization::write(notebook), filename, *bundle);
  }

  static std::string token(const std::string& page, std::string_view name) {
    std::string open = std::string(name) + "[";
    std::size_t start = page.find(open) + open.size();
    std::size_t end = name == "JSON" ? page.find("]END", start) : page.find(']', start);
    return page.substr(start, end - start);
  }

  static json::value notebookWithCells(json::array cells) {
    return json::object{{"cells", std::move(cells)}, {"nbformat", 4}, {"nbformat_minor", 5}};
  }

  TemporaryBundle resources;
  std::unique_ptr<Bundle> bundle;
};

json::object cell(std::string_view type, json::value source) {
  return json::object{{"cell_type", type}, {"metadata", json::object{}}, {"source", source}};
}

} // namespace

TEST_F(NotebookRendererTest, CodeOnlyNotebookFillsTheFixedAssets) {
  json::object code = cell("code", "x = 1  # $ costs");
  code["outputs"] = json::array{json::object{{"output_type", "stream"}, {"text", "$5\n"}}};
  std::string page = render(notebookWithCells({code}));
  EXPECT_EQ(token(page, "PC"), "prism-css");
  EXPECT_EQ(token(page, "MJ"), "marked-js");
  EXPECT_EQ(token(page, "PJ"), "prism-js");
  EXPECT_EQ(token(page, "PY"), "python-js");
  EXPECT_EQ(token(page, "NB"), "nbv-js<\\/script>");
  EXPECT_EQ(token(page, "KC"), "");
  EXPECT_EQ(token(page, "KJ"), "");
  EXPECT_EQ(token(page, "MM"), "");
  EXPECT_EQ(token(page, "FN"), "n.ipynb");
  EXPECT_EQ(JSONSerialization::parse(token(page, "JSON")), notebookWithCells({code}));
}

TEST_F(NotebookRendererTest, MathematicsComesFromMarkdownCellsOnly) {
  std::string joined = render(notebookWithCells({cell("markdown", json::array{"Cost: ", "$x$"})}));
  EXPECT_EQ(token(joined, "KC"), "katex-css");
  EXPECT_EQ(token(joined, "KJ"), "katex-js");

  // A dollar inside inline code still counts: the test is a plain substring test.
  EXPECT_EQ(token(render(notebookWithCells({cell("markdown", "`echo $HOME`")})), "KJ"), "katex-js");

  EXPECT_EQ(token(render(notebookWithCells({cell("markdown", json::array{"$", 1})})), "KJ"), "");
  EXPECT_EQ(token(render(notebookWithCells({cell("Markdown", "$x$")})), "KJ"), "");
  EXPECT_EQ(token(render(notebookWithCells({cell("raw", "$x$")})), "KJ"), "");
}

TEST_F(NotebookRendererTest, MermaidComesFromMarkdownCellsOnly) {
  json::value fence = "```mermaid\ngraph TD; A-->B\n```\n";
  EXPECT_EQ(token(render(notebookWithCells({cell("markdown", fence)})), "MM"), "mermaid-js");
  EXPECT_EQ(token(render(notebookWithCells({cell("code", fence)})), "MM"), "");
  EXPECT_EQ(
      token(render(notebookWithCells({cell("markdown", ":::MMD\ngraph TD; A-->B\n:::\n")})), "MM"),
      "mermaid-js");
  // Each cell is tested alone: a fence opened in one cell is not continued by the next.
  EXPECT_EQ(token(render(notebookWithCells({cell("markdown", "```"), cell("markdown", "mermaid")})),
                  "MM"),
            "");
}

TEST_F(NotebookRendererTest, FilenameIsEscapedForHTML) {
  std::string page = render(notebookWithCells({}), "a\"b&c<d>e'f&amp;.ipynb");
  EXPECT_EQ(token(page, "FN"), "a&quot;b&amp;c&lt;d&gt;e'f&amp;amp;.ipynb");
}

TEST_F(NotebookRendererTest, NotebookJSONCannotCloseTheScript) {
  std::string page = render(notebookWithCells({cell("markdown", "</script><script>alert(1)")}));
  std::string embedded = token(page, "JSON");
  EXPECT_EQ(embedded.find("</script"), std::string::npos);
  EXPECT_EQ(JSONSerialization::parse(embedded).at("cells").at(0).at("source"),
            "</script><script>alert(1)");
}

TEST_F(NotebookRendererTest, MetadataIsEmbeddedAheadOfTheCells) {
  // A page reading the notebook as it arrives learns the kernel's language before the cells.
  const std::string bytes =
      R"({"cells":[{"cell_type":"code","source":"x","metadata":{},"outputs":[]}],)"
      R"("metadata":{"kernelspec":{"language":"R"}},"nbformat":4,"nbformat_minor":5})";
  std::string embedded = token(NotebookRenderer::renderHTML(bytes, "r.ipynb", *bundle), "JSON");
  EXPECT_LT(embedded.find("\"metadata\""), embedded.find("\"cells\""));
  EXPECT_EQ(JSONSerialization::parse(embedded), JSONSerialization::parse(bytes));
}

TEST_F(NotebookRendererTest, TopLevelArrayIsEmbeddedAsIs) {
  std::string page =
      NotebookRenderer::renderHTML("[1, \"$\", {\"cells\": []}]", "a.ipynb", *bundle);
  EXPECT_EQ(token(page, "JSON"), "[1,\"$\",{\"cells\":[]}]");
  EXPECT_EQ(token(page, "KJ"), "");
  EXPECT_EQ(token(page, "MM"), "");
}

TEST_F(NotebookRendererTest, OutputsAreBoundedBeforeEmbedding) {
  json::object code = cell("code", "print('x' * 10**6)");
  code["outputs"] = json::array{json::object{
      {"output_type", "stream"}, {"name", "stdout"}, {"text", std::string(1000000, 'x')}}};
  std::string page = render(notebookWithCells({code}));
  EXPECT_LT(page.size(), 160000u);
  EXPECT_NE(page.find("Lumivale Quick Look truncated 976.6 KB from stream output"),
            std::string::npos);
}

TEST_F(NotebookRendererTest, ParsedAndByteFormsGiveTheSamePage) {
  std::string bytes = R"({"cells":[{"cell_type":"markdown","source":["# T\n","$a$"]},
    {"cell_type":"code","source":"1/3","outputs":[{"output_type":"execute_result",
    "data":{"text/plain":"0.3333333333333333"},"execution_count":1}]}],"metadata":{"x":1.5e300}})";
  EXPECT_EQ(
      NotebookRenderer::renderHTML(bytes, "t.ipynb", *bundle),
      NotebookRenderer::renderParsedHTML(JSONSerialization::parse(bytes), "t.ipynb", *bundle));
}

// The buffer handed over only lends its memory: whatever it held and however large it is, the
// page is the same.
TEST_F(NotebookRendererTest, PageBufferLendsOnlyItsMemory) {
  const std::string bytes =
      R"({"cells":[{"cell_type":"code","source":"x</script>",)"
      R"("outputs":[{"output_type":"stream","name":"stdout","text":"ok\n"}]}]})";
  const std::string expected = NotebookRenderer::renderHTML(bytes, "t.ipynb", *bundle);
  for (std::size_t capacity : {std::size_t(0), std::size_t(16), expected.size() / 3,
                               expected.size(), 4 * expected.size()}) {
    std::string buffer(capacity, '#');
    EXPECT_EQ(NotebookRenderer::renderParsedHTML(JSONSerialization::parse(bytes), "t.ipynb",
                                                 *bundle, std::move(buffer)),
              expected)
        << "buffer of " << capacity << " bytes";
  }
}

TEST_F(NotebookRendererTest, FailuresKeepTheirOwnErrors) {
  TemporaryBundle empty;
  std::unique_ptr<Bundle> withoutTemplate = empty.open();
  for (std::string_view bad : {"", "   ", "{\"cells\": [", "\"text\"", "42", "not json"}) {
    try {
      NotebookRenderer::renderHTML(bad, "bad.ipynb", *withoutTemplate);
      ADD_FAILURE() << "rendered: " << bad;
    } catch (const NSErrorException& error) {
      EXPECT_EQ(error.error().code, 3840) << bad;
      EXPECT_NE(error.error().localizedDescription.find("JSON"), std::string::npos);
    }
  }
  EXPECT_THROW(NotebookRenderer::renderHTML("{}", "ok.ipynb", *withoutTemplate),
               HTMLTemplate::Error);
}

TEST(NotebookRendererError, DescribesItself) {
  NotebookRenderer::Error error = NotebookRenderer::Error::invalidJSON();
  EXPECT_EQ(error, NotebookRenderer::Error::invalidJSON());
  EXPECT_EQ(error.kind(), NotebookRenderer::Error::Kind::invalidJSON);
  NSError converted = error.nsError();
  EXPECT_EQ(converted.domain, "NotebookRenderer.Error");
  EXPECT_NE(converted.localizedDescription.find("UTF-8"), std::string::npos);
}

TEST_F(NotebookRendererTest, ConcurrentRendersShareTheCachesSafely) {
  json::object code = cell("code", "print(1)");
  code["outputs"] = json::array{json::object{
      {"output_type", "stream"}, {"name", "stdout"}, {"text", std::string(200000, 'x')}}};
  const std::string withMath =
      JSONSerialization::write(notebookWithCells({cell("markdown", "$a$"), code}));
  const std::string plain = JSONSerialization::write(notebookWithCells({code}));
  const std::string expectedMath = NotebookRenderer::renderHTML(withMath, "m.ipynb", *bundle);
  const std::string expectedPlain = NotebookRenderer::renderHTML(plain, "p.ipynb", *bundle);

  TemporaryBundle freshResources;
  freshResources.writeResource("notebook-template.html", "[%%KATEX_JS%%|%%NOTEBOOK_JSON%%]");
  freshResources.writeResource("notebook/katex.min.js", "k");
  std::unique_ptr<Bundle> fresh = freshResources.open(); // caches filled concurrently
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        const bool math = (t + i) % 2 == 0;
        std::string page = NotebookRenderer::renderHTML(math ? withMath : plain,
                                                        math ? "m.ipynb" : "p.ipynb", *bundle);
        if (page != (math ? expectedMath : expectedPlain))
          ++mismatches;
        std::string small = NotebookRenderer::renderHTML(withMath, "m.ipynb", *fresh);
        if (!small.starts_with("[k|{\"nbformat\""))
          ++mismatches;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(NotebookRendererTest, AssetTestsNeedCellsThatAreAllObjects) {
  json::value fence = "```mermaid\ngraph TD; A-->B\n```\n$x$";
  std::string page = render(notebookWithCells({cell("markdown", fence), 5}));
  EXPECT_EQ(token(page, "KJ"), "");
  EXPECT_EQ(token(page, "MM"), "");
  // A Markdown cell whose source holds a number is passed over; the next one still counts.
  page = render(notebookWithCells(
      {cell("markdown", json::array{"```mermaid\n", 1}), cell("markdown", fence)}));
  EXPECT_EQ(token(page, "KJ"), "katex-js");
  EXPECT_EQ(token(page, "MM"), "mermaid-js");
  EXPECT_EQ(
      token(render(notebookWithCells({cell("markdown", json::array{"```mermaid\nA\n```\n", 1})})),
            "MM"),
      "");
}

// Output images left in the notebook's bytes and escaped from there into the page give the page
// of the ordinary tree, whatever room the bytes leave ahead of them: in place with room enough,
// moving to a buffer of its own at once or half-way with too little.
TEST_F(NotebookRendererTest, ImagesTakenFromTheBytesGiveTheSamePage) {
  auto base64 = [](std::size_t length, char seed) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
      text += "AZaz09+/"[(i * 7 + static_cast<std::size_t>(seed)) % 8];
    return text;
  };
  json::object image = cell("code", "plot()");
  image["outputs"] =
      json::array{json::object{{"output_type", "display_data"},
                               {"data", json::object{{"image/png", base64(30000, 'a')},
                                                     {"text/plain", "<Figure>"}}}},
                  // Bounding drops the large HTML: the members of "data" change places.
                  json::object{{"output_type", "execute_result"},
                               {"data", json::object{{"text/html", std::string(1100000, 'h')},
                                                     {"image/jpeg", base64(20000, 'b')},
                                                     {"text/plain", "table"},
                                                     {"image/gif", base64(9000, 'c')}}}},
                  json::object{{"output_type", "display_data"},
                               {"data", json::object{{"image/png", base64(100, 'd')}}}}};
  json::object text = cell("markdown", "![x](attachment:x.png) $y$");
  text["attachments"] = json::object{{"x.png", json::object{{"image/png", base64(12000, 'e')}}}};
  // As notebook files have it: "/" unescaped (only strings without escapes stay in the bytes).
  std::string bytes = JSONSerialization::write(notebookWithCells({text, image}));
  for (std::size_t at = bytes.find("\\/"); at != std::string::npos; at = bytes.find("\\/", at))
    bytes.erase(at, 1);
  const std::string expected = NotebookRenderer::renderHTML(bytes, "n.ipynb", *bundle);

  for (std::size_t room :
       {std::size_t(0), std::size_t(40), std::size_t(3000), std::size_t(8000), bytes.size()}) {
    std::string buffer = std::string(room, '\0') + bytes;
    NotebookRenderer::SourceText source{room, {}};
    json::value tree =
        JSONSerialization::parse(std::string_view(buffer).substr(room), json::storage_ptr(),
                                 OutputDataInSource::kReferencing, source.references);
    ASSERT_EQ(source.references.size(), 4u);
    EXPECT_EQ(NotebookRenderer::renderParsedHTML(std::move(tree), "n.ipynb", *bundle,
                                                 std::move(buffer), std::move(source)),
              expected)
        << "room of " << room << " bytes";
  }
}
