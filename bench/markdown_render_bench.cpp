// Rendering Markdown pages with warm caches, against the floor of copying the same number of
// page bytes. Uses the real MarkdownLens.appex resources produced by the page build.

#include "Foundation/Bundle.h"
#include "Foundation/JSONSerialization.h"
#include "MarkdownLens/MarkdownRenderer.h"
#include "PreviewCore/ContentDetection.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace {

const char* const kBundlePath = LUMIVALE_APP_BUNDLE "/Contents/PlugIns/MarkdownLens.appex";

const Bundle* markdownBundle() {
  static const std::unique_ptr<Bundle> bundle = []() -> std::unique_ptr<Bundle> {
    if (!std::filesystem::exists(std::filesystem::path(kBundlePath) / "Contents/Resources" /
                                 "markdown-template.html"))
      return nullptr;
    return std::make_unique<Bundle>(kBundlePath);
  }();
  return bundle.get();
}

// A technical document of about `size` bytes: prose with inline code, prices and formulas,
// code fences in several languages, Mermaid diagrams, tables and some non-ASCII text.
std::string makeDocument(std::size_t size) {
  static const char* const kSections[] = {
      "## Setting up\n\nInstall the tools with `pip install numpy` and run `make -j2`. The "
      "budget is $1200 per month, and the cost grows as $O(n \\log n)$ with the input size.\n\n",
      "```python\nimport numpy as np\n\ndef energy(m, c=299_792_458):\n    return m * c ** 2  # "
      "E = mc^2\n\nprint(energy(np.float64(1.5)))\n```\n\n",
      "The Caf\u00e9 na\u00efve r\u00e9sum\u00e9 \u2014 \u6f22\u5b57\u304b\u306a \u2014 "
      "emoji \U0001F680 and a formula $$\\int_0^1 x^2\\,dx = \\frac{1}{3}$$\n\n",
      "```ts\ninterface Point { x: number; y: number }\nconst norm = (p: Point) => "
      "Math.hypot(p.x, p.y);\n```\n\n",
      "```mermaid\ngraph TD\n  A[Start] --> B{Is it?}\n  B -->|Yes| C[OK]\n  B -->|No| "
      "D[Retry]\n```\n\n",
      "| Column | Value |\n|---|---|\n| alpha | `a $b` |\n| beta | 42 |\n\n",
      "```cpp\n#include <vector>\nint main() { std::vector<int> v{1, 2, 3}; return "
      "static_cast<int>(v.size()); }\n```\n\n",
      "```sql\nSELECT name, SUM(total) FROM orders GROUP BY name HAVING SUM(total) > 100;\n```\n\n",
      "- item one with **bold** and _emphasis_\n- item two with a [link](https://example.com)\n"
      "- item three: see </script> in text\n\n",
      "```rust\nfn main() { let v: Vec<u32> = (1..10).collect(); println!(\"{:?}\", v); }\n```\n\n",
  };
  std::string document = "# Benchmark document\n\n";
  for (std::size_t i = 0; document.size() < size; ++i)
    document += kSections[i % std::size(kSections)];
  document.resize(size);
  // Keep the cut on a character boundary.
  while (!document.empty() && (static_cast<unsigned char>(document.back()) & 0xC0) == 0x80)
    document.pop_back();
  if (!document.empty() && static_cast<unsigned char>(document.back()) >= 0xC0)
    document.pop_back();
  return document;
}

const std::string& document(std::size_t size) {
  static std::map<std::size_t, std::string> documents;
  auto [entry, inserted] = documents.try_emplace(size);
  if (inserted)
    entry->second = makeDocument(size);
  return entry->second;
}

void BM_RenderHTML(benchmark::State& state) {
  const Bundle* bundle = markdownBundle();
  if (!bundle) {
    state.SkipWithError("MarkdownLens.appex resources missing: build the page_resources target");
    return;
  }
  const std::string& markdown = document(static_cast<std::size_t>(state.range(0)));
  std::size_t pageBytes = MarkdownRenderer::renderHTML(markdown, *bundle).size(); // warm caches
  for (auto _ : state) {
    std::string page = MarkdownRenderer::renderHTML(markdown, *bundle);
    benchmark::DoNotOptimize(page.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pageBytes));
  state.counters["page_MB"] = static_cast<double>(pageBytes) / 1e6;
}

// The floor: one copy of as many bytes as the page has.
void BM_CopyPageBytes(benchmark::State& state) {
  const Bundle* bundle = markdownBundle();
  if (!bundle) {
    state.SkipWithError("MarkdownLens.appex resources missing: build the page_resources target");
    return;
  }
  const std::string page =
      MarkdownRenderer::renderHTML(document(static_cast<std::size_t>(state.range(0))), *bundle);
  for (auto _ : state) {
    std::string copy(page);
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

// The parts that scale with the document, over the document's bytes.
void BM_ContentDetection(benchmark::State& state) {
  const std::string& markdown = document(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ContentDetection::hasCodeFences(markdown));
    benchmark::DoNotOptimize(ContentDetection::hasMermaidBlock(markdown));
    benchmark::DoNotOptimize(ContentDetection::hasMathematics(markdown));
    benchmark::DoNotOptimize(ContentDetection::fenceLanguages(markdown));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * markdown.size()));
}

// The mathematics test's longest walk: every "$" sits in inline code or a fenced block, so
// every line is looked at, many of them with non-ASCII text.
void BM_MathematicsInCodeOnly(benchmark::State& state) {
  static const char* const kSections[] = {
      "Set `$HOME` and `echo $PATH` \u2014 \u6f22\u5b57 `$\u00e9` caf\u00e9.\n\n",
      "```sh\nexport PATH=$HOME/bin:$PATH\necho \"$1\"\n```\n\n",
      "Plain prose without any dollar sign at all, just words and words.\n",
      "~~~\nprice = $5\n~~~\n",
  };
  std::string markdown;
  for (std::size_t i = 0; markdown.size() < static_cast<std::size_t>(state.range(0)); ++i)
    markdown += kSections[i % std::size(kSections)];
  if (ContentDetection::hasMathematics(markdown))
    state.SkipWithError("the document was meant to have no mathematics");
  for (auto _ : state)
    benchmark::DoNotOptimize(ContentDetection::hasMathematics(markdown));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * markdown.size()));
}

void BM_MarkdownLiteral(benchmark::State& state) {
  const std::string& markdown = document(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string literal = JSONSerialization::stringLiteral(markdown);
    benchmark::DoNotOptimize(literal.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * markdown.size()));
}

} // namespace

#define DOCUMENT_SIZES ->Arg(10 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_RenderHTML) DOCUMENT_SIZES;
BENCHMARK(BM_CopyPageBytes) DOCUMENT_SIZES;
BENCHMARK(BM_ContentDetection) DOCUMENT_SIZES;
BENCHMARK(BM_MarkdownLiteral) DOCUMENT_SIZES;
BENCHMARK(BM_MathematicsInCodeOnly) DOCUMENT_SIZES;

BENCHMARK_MAIN();
