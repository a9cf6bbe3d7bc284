// The NotebookLens extension process: serves preview requests with NotebookPreviewProvider.
#include "NotebookLens/NotebookPreviewProvider.h"
#include "PreviewCore/ExtensionModule.h"
#include "QuickLook/ExtensionMain.h"

#include <memory>

int main() {
  declareRunningExtension(ExtensionModule::notebookLens);
  QLExtensionMain(std::make_shared<NotebookPreviewProvider>());
}
