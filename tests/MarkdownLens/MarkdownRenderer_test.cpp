#include "MarkdownLens/MarkdownRenderer.h"
#include "PreviewCore/HTMLTemplate.h"
#include "TemporaryBundle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr const char* kTokens[] = {"GITHUB_CSS", "KATEX_CSS", "PRISM_CSS",
                                   "MARKED_JS",  "KATEX_JS",  "COPY_TEX_JS",
                                   "MERMAID_JS", "PRISM_JS",  "MARKDOWN_JSON"};

// A bundle with a template that shows each token as NAME=[value]| and small fake assets.
class MarkdownRendererTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string page;
    for (const char* token : kTokens)
      page += std::string(token) + "=[%%" + token + "%%]|";
    dir.writeResource("markdown-template.html", page);
    for (const char* css : {"github-markdown.min", "katex.min", "prism.min"})
      dir.writeResource(std::string("markdown/") + css + ".css", std::string("css:") + css);
    for (const char* js :
         {"marked.min", "katex.min", "copy-tex.min", "mermaid.min", "prism-core.min"})
      dir.writeResource(std::string("markdown/") + js + ".js", std::string("js:") + js);
    for (const char* language : {"c", "clike", "cpp", "javascript", "typescript", "python"})
      dir.writeResource(std::string("markdown/prism-lang-") + language + ".min.js",
                        std::string("lang:") + language);
  }

  // Renders and splits the page back into token values.
  std::map<std::string, std::string> render(std::string_view markdown) {
    auto bundle = dir.open();
    std::string page = MarkdownRenderer::renderHTML(markdown, *bundle);
    std::map<std::string, std::string> values;
    std::size_t at = 0;
    for (const char* token : kTokens) {
      std::string open = std::string(token) + "=[";
      EXPECT_EQ(page.compare(at, open.size(), open), 0) << page;
      std::size_t end = page.find("]|", at + open.size());
      if (std::string(token) == "MARKDOWN_JSON")
        end = page.rfind("]|");
      values[token] = page.substr(at + open.size(), end - at - open.size());
      at = end + 2;
    }
    EXPECT_EQ(at, page.size());
    return values;
  }

  TemporaryBundle dir;
};

} // namespace

TEST_F(MarkdownRendererTest, PlainTextGetsOnlyTheAlwaysTokens) {
  auto values = render("# Title\n\nJust words.");
  EXPECT_EQ(values["GITHUB_CSS"], "css:github-markdown.min");
  EXPECT_EQ(values["MARKED_JS"], "js:marked.min");
  EXPECT_EQ(values["MARKDOWN_JSON"], R"("# Title\n\nJust words.")");
  for (const char* token :
       {"KATEX_CSS", "PRISM_CSS", "KATEX_JS", "COPY_TEX_JS", "MERMAID_JS", "PRISM_JS"})
    EXPECT_EQ(values[token], "") << token;
}

TEST_F(MarkdownRendererTest, CodeFencesSelectPrismAndLanguagesInNameOrder) {
  auto values = render("```ts\nlet x = 1\n```\n");
  EXPECT_EQ(values["PRISM_CSS"], "css:prism.min");
  EXPECT_EQ(values["PRISM_JS"], "js:prism-core.min\nlang:clike\nlang:javascript\nlang:typescript");
  EXPECT_EQ(render("```cpp\n```")["PRISM_JS"], "js:prism-core.min\nlang:c\nlang:clike\nlang:cpp");
  // Inline backticks still count as code; only the core is loaded.
  values = render("Three ``` in a sentence.");
  EXPECT_EQ(values["PRISM_CSS"], "css:prism.min");
  EXPECT_EQ(values["PRISM_JS"], "js:prism-core.min");
  // A missing language script is left out.
  EXPECT_EQ(render("```rust\n```\n```py\n```")["PRISM_JS"], "js:prism-core.min\nlang:python");
}

TEST_F(MarkdownRendererTest, MissingCoreStillLeadsTheJoinedScripts) {
  std::filesystem::remove(dir.path() / "Contents/Resources/markdown/prism-core.min.js");
  EXPECT_EQ(render("```python\n```")["PRISM_JS"], "\nlang:python");
  EXPECT_EQ(render("```\n```")["PRISM_JS"], "");
}

TEST_F(MarkdownRendererTest, MermaidAndMathematics) {
  auto values = render("```mermaid\ngraph TD\n```");
  EXPECT_EQ(values["MERMAID_JS"], "js:mermaid.min");
  EXPECT_EQ(values["PRISM_CSS"], "css:prism.min");
  EXPECT_EQ(values["PRISM_JS"], "js:prism-core.min");
  EXPECT_EQ(values["KATEX_JS"], "");

  values = render("Euler: $e^{i\\pi} + 1 = 0$");
  EXPECT_EQ(values["KATEX_CSS"], "css:katex.min");
  EXPECT_EQ(values["KATEX_JS"], "js:katex.min");
  EXPECT_EQ(values["COPY_TEX_JS"], "js:copy-tex.min");
  EXPECT_EQ(values["MERMAID_JS"], "");

  values = render("`$HOME`\n```sh\necho $PATH\n```\n");
  EXPECT_EQ(values["KATEX_CSS"], "");
  EXPECT_EQ(values["KATEX_JS"], "");
}

TEST_F(MarkdownRendererTest, MarkdownLiteralCannotCloseTheScriptElement) {
  auto values = render("</script><script>alert(1)</script>\n\u2028\u00e9\t\"q\"");
  EXPECT_EQ(values["MARKDOWN_JSON"],
            "\"<\\/script><script>alert(1)<\\/script>\\n\u2028\u00e9\\t\\\"q\\\"\"");
  EXPECT_THAT(values["MARKDOWN_JSON"], Not(HasSubstr("</")));
  EXPECT_EQ(render("caf\xe9")["MARKDOWN_JSON"], "\"\"");
}

TEST_F(MarkdownRendererTest, ScriptsAreEscapedStyleSheetsAreNot) {
  dir.writeResource("markdown/marked.min.js", "a='</script>'");
  dir.writeResource("markdown/github-markdown.min.css", "/*</script>*/");
  auto bundle = dir.open();
  std::string page = MarkdownRenderer::renderHTML("x", *bundle);
  EXPECT_THAT(page, HasSubstr("MARKED_JS=[a='<\\/script>']"));
  EXPECT_THAT(page, HasSubstr("GITHUB_CSS=[/*</script>*/]"));
}

TEST_F(MarkdownRendererTest, MissingTemplateFailsEvenForEmptyText) {
  std::filesystem::remove(dir.path() / "Contents/Resources/markdown-template.html");
  auto bundle = dir.open();
  try {
    MarkdownRenderer::renderHTML("", *bundle);
    FAIL() << "rendered without a template";
  } catch (const HTMLTemplate::Error& error) {
    EXPECT_EQ(error.name(), "markdown-template");
  }
}
