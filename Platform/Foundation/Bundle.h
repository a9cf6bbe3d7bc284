// Bundle: a directory bundle (Contents/Info.plist, Contents/Resources/), with resource lookup by
// name, extension and optional subdirectory, and an identity text unique per live object.
// Bundles are immutable after construction and may be shared between threads.
#pragma once

#include "Foundation/PropertyList.h"
#include "Foundation/URL.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

class Bundle {
public:
  // A bundle rooted at `bundlePath` (the folder that holds Contents/). The Info.plist is read
  // once here; a bundle without one has an empty info dictionary.
  explicit Bundle(std::filesystem::path bundlePath);
  Bundle(const Bundle&) = delete;
  Bundle& operator=(const Bundle&) = delete;

  // The bundle that holds the running executable: for .../X.appex/Contents/MacOS/X that is
  // X.appex; for an executable outside any bundle, the folder that holds it.
  static const Bundle& main();

  const std::filesystem::path& bundlePath() const { return bundlePath_; }
  std::filesystem::path resourcesPath() const;
  std::filesystem::path plugInsPath() const;

  // The URL of Resources/[subdirectory/]name.ext when such a regular file or link exists.
  // An empty extension looks for the name alone. Without a subdirectory only the top level of
  // the resources is searched.
  std::optional<URL>
  urlForResource(std::string_view name, std::string_view extension,
                 std::optional<std::string_view> subdirectory = std::nullopt) const;

  // Unique per bundle object for the life of the process (never reused), e.g. "Bundle#3".
  const std::string& identity() const { return identity_; }

  const PropertyList& infoDictionary() const { return info_; }
  // A string value of the info dictionary, or nullopt.
  std::optional<std::string> infoString(std::string_view key) const;
  std::optional<std::string> bundleIdentifier() const { return infoString("CFBundleIdentifier"); }

private:
  std::filesystem::path bundlePath_;
  std::string identity_;
  PropertyList info_;
};
