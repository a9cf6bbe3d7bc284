#include "Foundation/ASCII.h"
#include "PreviewCore/ContentDetection.h"
#include "PreviewCore/Graphemes.h"
#include "PreviewCore/ICUText.h"
#include "RandomTexts.h"

#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <thread>

using ContentDetection::fenceLanguages;
using ContentDetection::hasMathematics;
using ContentDetection::hasMermaidBlock;
using Names = std::vector<std::string>;

TEST(ContentDetectionFenceLanguages, LabelsAliasesDependenciesAndOrder) {
  EXPECT_EQ(fenceLanguages(""), Names{});
  EXPECT_EQ(fenceLanguages("```cpp\nx\n```\n\n```Python\ny\n```\n"),
            (Names{"c", "clike", "cpp", "python"}));
  EXPECT_EQ(fenceLanguages("```JS\n```"), (Names{"clike", "javascript"}));
  EXPECT_EQ(fenceLanguages("```ts\n```"), (Names{"clike", "javascript", "typescript"}));
  EXPECT_EQ(fenceLanguages("```c++\n```"), (Names{"c", "clike", "cpp"}));
  EXPECT_EQ(fenceLanguages("~~~ shell-session\n~~~"), (Names{"bash", "shell-session"}));
  EXPECT_EQ(fenceLanguages("```sh\n```\n```shell\n```\n```bash\n```"), Names{"bash"});
  EXPECT_EQ(fenceLanguages("```html\n```\n```objc\n```"), (Names{"c", "clike", "markup"}));
  // Only the component table's names count; aliases resolve one step.
  EXPECT_EQ(fenceLanguages("```clike\n```\n```zsh\n```\n```yml\n```\n```mermaid\n```"), Names{});
  // The label stops at the first character outside [A-Za-z0-9+_.-].
  EXPECT_EQ(fenceLanguages("```python{cmd=true}\n```"), Names{"python"});
  EXPECT_EQ(fenceLanguages("```rust,ignore\n```"), Names{"rust"});
}

TEST(ContentDetectionFenceLanguages, FenceShapes) {
  EXPECT_EQ(fenceLanguages("````python\n````"), Names{});
  EXPECT_EQ(fenceLanguages("~~~~python\n~~~~"), Names{});
  EXPECT_EQ(fenceLanguages("```{.python}\n```"), Names{"python"});
  EXPECT_EQ(fenceLanguages("``` { python }\n```"), Names{"python"});
  EXPECT_EQ(fenceLanguages("```.go\n```"), Names{});
  EXPECT_EQ(fenceLanguages("  \t```go\n"), (Names{"clike", "go"}));
  // Line-based, not Markdown-aware: an indented fence deep inside another block still counts.
  EXPECT_EQ(fenceLanguages("```\n        ```sql\n```"), Names{"sql"});
  EXPECT_EQ(fenceLanguages("text ```python inline"), Names{});
  EXPECT_EQ(fenceLanguages("> ```python"), Names{});
  // Every line start of ICU's multi-line mode.
  EXPECT_EQ(fenceLanguages("a\r```java"), (Names{"clike", "java"}));
  EXPECT_EQ(fenceLanguages("a\r\n```json"), Names{"json"});
  EXPECT_EQ(fenceLanguages("a\u2028```yaml\u2029```css\u0085```swift\f```sql\v```ruby"),
            (Names{"clike", "css", "ruby", "sql", "swift", "yaml"}));
  EXPECT_EQ(fenceLanguages("a\u00a0```yaml"), Names{});
}

// The line filter must give exactly what the pattern finds over the whole text.
TEST(ContentDetectionFenceLanguages, SameAsWholeTextPattern) {
  auto pattern =
      compileICUPattern(R"((?m)^[ \t]*(?:```|~~~)[ \t]*(?:\{[ \t]*\.?)?([A-Za-z0-9+_.-]+))");
  RandomTexts texts({"```", "~~~", "`",      "~",      " ",      "\t", "{",  ".",
                     "\n",  "\r",  "\r\n",   "\u2028", "\u0085", "\v", "py", "JS",
                     "c++", "ts",  "\u00e9", ":::",    "go",     "x"},
                    11);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = texts.next(round % 30);
    std::set<std::string> expected;
    ICUText utext(text);
    auto matcher = makeICUMatcher(*pattern, utext);
    UErrorCode status = U_ZERO_ERROR;
    while (matcher->find(status)) {
      std::string label = text.substr(matcher->start64(1, status),
                                      matcher->end64(1, status) - matcher->start64(1, status));
      label = ASCII::lowercased(label);
      static const std::map<std::string, Names> known{{"py", {"python"}},
                                                      {"js", {"clike", "javascript"}},
                                                      {"c++", {"c", "clike", "cpp"}},
                                                      {"ts", {"clike", "javascript", "typescript"}},
                                                      {"go", {"clike", "go"}}};
      if (auto found = known.find(label); found != known.end())
        expected.insert(found->second.begin(), found->second.end());
    }
    ASSERT_EQ(fenceLanguages(text), Names(expected.begin(), expected.end())) << text;
  }
}

TEST(ContentDetectionMermaid, ContainersAndLabels) {
  EXPECT_TRUE(hasMermaidBlock("::: MMD  \ngraph TD\n:::"));
  EXPECT_TRUE(hasMermaidBlock("intro\n  :::\tmermaid\r\n"));
  EXPECT_TRUE(hasMermaidBlock("```Mermaid\ngraph TD\n```"));
  EXPECT_TRUE(hasMermaidBlock("~~~ {.mmd}\n~~~"));
  EXPECT_FALSE(hasMermaidBlock("```mermaid-js\n```"));
  EXPECT_FALSE(hasMermaidBlock("::: mermaid diagram\n"));
  EXPECT_FALSE(hasMermaidBlock("text ::: mermaid\n"));
  EXPECT_FALSE(hasMermaidBlock("````mermaid\n````"));
  EXPECT_FALSE(hasMermaidBlock("mermaid\n::: note\n"));
  EXPECT_TRUE(hasMermaidBlock("x\u2029::: mermaid\u2028y"));
}

TEST(ContentDetectionMathematics, DollarsOutsideCode) {
  EXPECT_FALSE(hasMathematics("no dollars here"));
  EXPECT_TRUE(hasMathematics("It costs $5 or $10."));
  EXPECT_TRUE(hasMathematics("$$\nE = mc^2\n$$"));
  EXPECT_FALSE(hasMathematics("Use `$HOME` and `echo $PATH`."));
  EXPECT_TRUE(hasMathematics("Use `$HOME` and $x$"));
  // An unmatched backtick is plain text, so the "$" after it counts...
  EXPECT_TRUE(hasMathematics("a ` b $c"));
  EXPECT_TRUE(hasMathematics("a `x` ` $c"));
  // ...and backticks never pair across lines.
  EXPECT_TRUE(hasMathematics("a ` b\n$c ` d"));
}

TEST(ContentDetectionMathematics, FencedBlocks) {
  EXPECT_FALSE(hasMathematics("```sh\necho $PATH\n```\n"));
  EXPECT_TRUE(hasMathematics("```sh\necho $PATH\n```\nand $x$"));
  EXPECT_FALSE(hasMathematics("  ~~~\n$x\n  ~~~  \n"));
  EXPECT_TRUE(hasMathematics("~~~\n$x\n~~~\n$y"));
  // Only a line of exactly three fence characters closes, and only the opener's kind.
  EXPECT_FALSE(hasMathematics("````\ncode\n````\n$x$ never reached"));
  EXPECT_FALSE(hasMathematics("~~~\n```\n$x\n"));
  EXPECT_FALSE(hasMathematics("```\n``` x\n$y\n"));
  // The opening line itself is not searched.
  EXPECT_FALSE(hasMathematics("```$x\n```"));
  EXPECT_TRUE(hasMathematics("\u3000```\n$x\u00a0\n\u2003```\u2003\n$y"));
}

TEST(ContentDetectionMathematics, LineEnds) {
  // CR LF and a lone CR end lines as LF does, as they do for the page's Markdown parser.
  EXPECT_TRUE(hasMathematics("```\r\ncode\r\n```\r\n$x$\r\n"));
  EXPECT_TRUE(hasMathematics("```\rcode\r```\r$x$\r"));
  EXPECT_FALSE(hasMathematics("```\r\n$x$\r\n"));
  EXPECT_TRUE(hasMathematics("a `b\r\n$c` d"));
}

TEST(ContentDetectionMathematics, CharactersAreGraphemeClusters) {
  // A combining mark makes a backtick or dollar sign another character.
  EXPECT_FALSE(hasMathematics("x $\u0301 y"));
  EXPECT_TRUE(hasMathematics("x $\u0301 $ y"));
  EXPECT_TRUE(hasMathematics("`\u0301 $ `"));
  EXPECT_FALSE(hasMathematics("\u00e9 `$` \u00e9"));
  EXPECT_TRUE(hasMathematics("``\u0301`\n$x$"));
  EXPECT_FALSE(hasMathematics("```\u00e9\n$x$"));
}

TEST(ContentDetectionTest, CodeFencesAnywhere) {
  EXPECT_TRUE(ContentDetection::hasCodeFences("inline ``` text"));
  EXPECT_TRUE(ContentDetection::hasCodeFences("~~~"));
  EXPECT_FALSE(ContentDetection::hasCodeFences("`` ~~ `x`"));
}

// The tables, patterns and per-thread segmenters are shared by concurrent previews.
TEST(ContentDetectionConcurrency, ManyThreadsGetTheSameAnswers) {
  const std::string text =
      "# \u00e9t\u00e9 \U0001F600\n```ts\nx\n```\n\u0915\u094d $x\u0301 `a` $y\n"
      "::: mermaid\n~~~{.python}\n~~~\n";
  const Names languages = fenceLanguages(text);
  const std::size_t clusters = Graphemes::graphemeClusterCount(text);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < 50; ++round) {
        if (fenceLanguages(text) != languages || !hasMermaidBlock(text) || !hasMathematics(text) ||
            Graphemes::graphemeClusterCount(text) != clusters)
          ++mismatches;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}
