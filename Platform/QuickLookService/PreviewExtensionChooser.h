// PreviewExtensionChooser: which preview extension serves a content type. The server asks only
// this; ExtensionCatalogChooser answers from the app bundle's PlugIns (the first extension that
// declares the type), and a chooser that obeys the plug-in registry's elections can take its
// place. Used from several threads.
#pragma once

#include "ExtensionKit/ExtensionCatalog.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

class PreviewExtensionChooser {
public:
  virtual ~PreviewExtensionChooser() = default;
  virtual std::optional<PreviewExtension> extensionFor(const UTType& type) = 0;
  // Reads the registrations again (after a reset).
  virtual void reload() = 0;
};

class ExtensionCatalogChooser : public PreviewExtensionChooser {
public:
  // Throws std::runtime_error when the app bundle cannot be read.
  explicit ExtensionCatalogChooser(std::filesystem::path appBundle);
  std::optional<PreviewExtension> extensionFor(const UTType& type) override;
  void reload() override;

private:
  std::filesystem::path appBundle_;
  std::mutex mutex_; // guards catalog_
  std::shared_ptr<const ExtensionCatalog> catalog_;
};
