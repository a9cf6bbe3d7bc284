// The MarkdownLens extension process: serves preview requests with MarkdownPreviewProvider.
#include "MarkdownLens/MarkdownPreviewProvider.h"
#include "QuickLook/ExtensionMain.h"

#include <memory>

int main() {
  QLExtensionMain(std::make_shared<MarkdownPreviewProvider>());
}
