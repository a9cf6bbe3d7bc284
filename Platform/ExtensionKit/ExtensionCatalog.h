// ExtensionCatalog: the preview extensions inside an app bundle's PlugIns folder, with the
// content types each declares, and the choice of extension for a document's content type.
#pragma once

#include "UniformTypeIdentifiers/UTType.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct PreviewExtension {
  std::string name;                        // "MarkdownLens"
  std::filesystem::path executable;        // .../MarkdownLens.appex/Contents/MacOS/MarkdownLens
  std::vector<std::string> supportedTypes; // QLSupportedContentTypes
};

class ExtensionCatalog {
public:
  // Reads the app's Info.plist (registering its type declarations) and every
  // PlugIns/*.appex that serves the Quick Look preview extension point. Throws
  // std::runtime_error when the app bundle has no Info.plist.
  explicit ExtensionCatalog(const std::filesystem::path& appBundle);

  // The first extension that supports `type` or a type it conforms to.
  const PreviewExtension* extensionFor(const UTType& type) const;
  const std::vector<PreviewExtension>& extensions() const { return extensions_; }

private:
  std::vector<PreviewExtension> extensions_;
};
