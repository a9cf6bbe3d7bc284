#include "QuickLookService/ExtensionLookup.h"

#include "PlugInKit/PreviewPlugInChoice.h"

#include <memory>

struct ExtensionLookup::Registry {
  RegistryState state;
};

ExtensionLookup ExtensionLookup::fromApp(const std::filesystem::path& appBundle) {
  ExtensionLookup lookup;
  lookup.catalog_.emplace(appBundle);
  return lookup;
}

ExtensionLookup ExtensionLookup::fromRegistry() {
  ExtensionLookup lookup;
  PlugInRegistry registry;
  lookup.registry_ = std::make_shared<Registry>(Registry{registry.read()});
  lookup.warnings_ = registry.warnings();
  registerDeclaredTypes(lookup.registry_->state);
  return lookup;
}

const PreviewExtension* ExtensionLookup::extensionFor(const UTType& type, std::string& whyNot) {
  if (catalog_) {
    const PreviewExtension* extension = catalog_->extensionFor(type);
    if (!extension)
      whyNot = "No preview extension handles content type " + type.identifier() + ".";
    return extension;
  }
  const PreviewPlugInChoice choice = choosePreviewPlugIn(registry_->state, type);
  if (!choice.plugIn) {
    whyNot = choice.failureReason(type.identifier());
    return nullptr;
  }
  for (const PreviewExtension& extension : chosen_)
    if (extension.executable == choice.plugIn->executable)
      return &extension;
  return &chosen_.emplace_back(PreviewExtension{choice.plugIn->path.stem().string(),
                                                choice.plugIn->executable,
                                                choice.plugIn->supportedContentTypes});
}

const PreviewExtension* ExtensionLookup::extensionForFile(const std::filesystem::path& path,
                                                          std::string& contentType,
                                                          std::string& whyNot) {
  const std::optional<UTType> type = UTType::fromFilenameExtension(
      path.has_extension() ? path.extension().string().substr(1) : std::string(), UTType::data);
  if (!type) {
    whyNot = "The content type of the file cannot be determined.";
    return nullptr;
  }
  contentType = type->identifier();
  return extensionFor(*type, whyNot);
}

std::filesystem::path ExtensionLookup::appBundleOf(const PreviewExtension& extension) {
  return extension.executable
      .parent_path()  // MacOS
      .parent_path()  // Contents
      .parent_path()  // Y.appex
      .parent_path()  // PlugIns
      .parent_path()  // Contents
      .parent_path(); // X.app
}
