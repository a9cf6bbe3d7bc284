// The MarkdownLens extension process: serves preview requests with MarkdownPreviewProvider.
#include "MarkdownLens/MarkdownPreviewProvider.h"
#include "PreviewCore/ExtensionModule.h"
#include "QuickLook/ExtensionMain.h"

#include <memory>

int main() {
  declareRunningExtension(ExtensionModule::markdownLens);
  QLExtensionMain(std::make_shared<MarkdownPreviewProvider>());
}
