// The MarkdownLens extension process: serves preview requests with MarkdownPreviewProvider.
#include "ExtensionMain.h"
#include "MarkdownPreviewProvider.h"

#include <memory>

int main() {
  QLExtensionMain(std::make_shared<MarkdownPreviewProvider>());
}
