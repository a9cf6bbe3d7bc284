#include "PreviewCore/HTMLTemplate.h"
#include "PreviewCore/HTMLTemplateCache.h"
#include "TemporaryBundle.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {
constexpr ExtensionModule kModule = ExtensionModule::markdownLens;
} // namespace

// Many previews starting at once share the caches: every file is still read exactly once and
// every thread sees the same texts.
TEST(HTMLTemplateConcurrency, ManyThreadsLoadingAtOnceReadEachFileOnce) {
  TemporaryBundle dir;
  auto templateFile = dir.writeResource("page.html", "<html>%%A%%%%B%%</html>");
  std::vector<std::filesystem::path> assets;
  for (int i = 0; i < 8; ++i) {
    assets.push_back(dir.writeResource("markdown/s" + std::to_string(i) + ".js",
                                       "var s" + std::to_string(i) + "='</script>';"));
    assets.push_back(dir.writeResource("markdown/c" + std::to_string(i) + ".css", "p{}"));
  }
  auto bundle = dir.open();

  constexpr int kThreads = 16;
  std::atomic<int> ready{0};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ++ready;
      while (ready.load() < kThreads) {
      }
      for (int round = 0; round < 20; ++round) {
        int i = (t + round) % 8;
        auto parsed = HTMLTemplate::templateNamed("page", *bundle, kModule);
        if (parsed->size() != 4)
          ++mismatches;
        std::string script =
            HTMLTemplate::scriptText("s" + std::to_string(i), "js", *bundle, "markdown");
        if (script != "var s" + std::to_string(i) + "='<\\/script>';")
          ++mismatches;
        if (HTMLTemplate::resourceText("c" + std::to_string(i), "css", *bundle, "markdown") !=
            "p{}")
          ++mismatches;
        if (HTMLTemplate::templateText("page", *bundle, kModule) != "<html>%%A%%%%B%%</html>")
          ++mismatches;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(HTMLTemplate::resourceFileReadCount(templateFile.string()), 1u);
  for (const auto& asset : assets)
    EXPECT_EQ(HTMLTemplate::resourceFileReadCount(asset.string()), 1u) << asset;
}
