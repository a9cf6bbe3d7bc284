// ExtensionLookup: how qlmanage (and the panel, for documents reached through links) finds the
// extension for a document. Normally from the per-user
// plug-in registry, obeying the user's elections (the way the preview service works); with
// --app, straight from one app bundle's PlugIns folder, bypassing the registry (development
// and tests).
#pragma once

#include "ExtensionKit/ExtensionCatalog.h"

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ExtensionLookup {
public:
  // Throws std::runtime_error when the app bundle has no Info.plist.
  static ExtensionLookup fromApp(const std::filesystem::path& appBundle);
  // Reads the registry and makes the registered bundles' type declarations known.
  static ExtensionLookup fromRegistry();

  // The extension that serves `type`; nullptr with `whyNot` set when none does.
  const PreviewExtension* extensionFor(const UTType& type, std::string& whyNot);

  // The extension that serves the file at `path`, by its filename extension; `contentType` is
  // set to the file's type when one is known. nullptr with `whyNot` set when none serves it.
  const PreviewExtension* extensionForFile(const std::filesystem::path& path,
                                           std::string& contentType, std::string& whyNot);

  // The app bundle that holds an extension: .../X.app/Contents/PlugIns/Y.appex/Contents/MacOS/Y.
  static std::filesystem::path appBundleOf(const PreviewExtension& extension);

  // Problems met while reading the registry (damaged files set aside).
  const std::vector<std::string>& warnings() const { return warnings_; }

private:
  ExtensionLookup() = default;
  std::optional<ExtensionCatalog> catalog_;
  struct Registry;
  std::shared_ptr<Registry> registry_;
  std::deque<PreviewExtension> chosen_; // stable addresses for the jobs
  std::vector<std::string> warnings_;
};
