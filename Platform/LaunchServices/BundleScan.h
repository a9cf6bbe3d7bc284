// BundleScan: reading an application bundle for registration. It checks that the folder is a
// valid application bundle and, when asked, reads every extension inside Contents/PlugIns, so
// that registration either records a complete, valid bundle or nothing at all.
#pragma once

#include "LaunchServices/TypeDeclaration.h"
#include "PlugInKit/PlugIn.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

// A bundle that cannot be registered; what() says which file is wrong and how.
class InvalidBundleError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct ScannedApplication {
  std::string identifier; // CFBundleIdentifier
  std::string name;       // CFBundleDisplayName, else CFBundleName, else the folder's stem
  std::string version;    // CFBundleShortVersionString
  std::string bundleVersion;
  std::filesystem::path path; // absolute, symbolic links resolved
  std::filesystem::path executable;
  std::vector<TypeDeclaration> declaredTypes; // the app's and its plug-ins'
  std::vector<PlugIn> plugIns;                // filled only by a recursive scan
  // LumivaleQuickLookToolPath of the Info.plist when it is an absolute path.
  std::filesystem::path previewToolPath;
};

// Reads the bundle at `path`. Throws InvalidBundleError when it is not an application bundle
// (no folder, no readable Contents/Info.plist, no identifier or executable name, another
// package type) or, with `recursive`, when an extension inside it is unusable.
ScannedApplication scanApplicationBundle(const std::filesystem::path& path, bool recursive);
