#include "PreviewCore/ExtensionModule.h"

#include <atomic>

namespace {
// -1: not declared; otherwise the ExtensionModule's value.
std::atomic<int> declaredModule{-1};
} // namespace

std::string_view moduleName(ExtensionModule module) {
  return module == ExtensionModule::notebookLens ? "NotebookLens" : "MarkdownLens";
}

void declareRunningExtension(ExtensionModule module) {
  declaredModule.store(static_cast<int>(module), std::memory_order_relaxed);
}

std::optional<ExtensionModule> runningExtension() {
  const int value = declaredModule.load(std::memory_order_relaxed);
  if (value < 0)
    return std::nullopt;
  return static_cast<ExtensionModule>(value);
}
