#include "QuickLookService/PreviewExtensionChooser.h"

ExtensionCatalogChooser::ExtensionCatalogChooser(std::filesystem::path appBundle)
    : appBundle_(std::move(appBundle)),
      catalog_(std::make_shared<const ExtensionCatalog>(appBundle_)) {}

std::optional<PreviewExtension> ExtensionCatalogChooser::extensionFor(const UTType& type) {
  std::shared_ptr<const ExtensionCatalog> catalog;
  {
    std::lock_guard lock(mutex_);
    catalog = catalog_;
  }
  if (const PreviewExtension* extension = catalog->extensionFor(type))
    return *extension;
  return std::nullopt;
}

void ExtensionCatalogChooser::reload() {
  auto catalog = std::make_shared<const ExtensionCatalog>(appBundle_);
  std::lock_guard lock(mutex_);
  catalog_ = std::move(catalog);
}
