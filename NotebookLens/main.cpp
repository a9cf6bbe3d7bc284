// The NotebookLens extension process: serves preview requests with NotebookPreviewProvider.
#include "NotebookLens/NotebookPreviewProvider.h"
#include "QuickLook/ExtensionMain.h"

#include <memory>

int main() {
  QLExtensionMain(std::make_shared<NotebookPreviewProvider>());
}
