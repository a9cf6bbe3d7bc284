// The NotebookLens extension process: serves preview requests with NotebookPreviewProvider.
#include "ExtensionMain.h"
#include "NotebookPreviewProvider.h"

#include <memory>

int main() {
  QLExtensionMain(std::make_shared<NotebookPreviewProvider>());
}
