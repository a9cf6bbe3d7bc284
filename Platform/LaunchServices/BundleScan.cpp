#include "LaunchServices/BundleScan.h"

#include "Foundation/PropertyList.h"

#include <algorithm>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string stringValue(const PropertyList& info, std::string_view key) {
  const PropertyList* value = info.member(key);
  return value && value->asString() ? *value->asString() : std::string();
}

PropertyList readInfo(const fs::path& bundle, const std::string& what) {
  const fs::path file = bundle / "Contents" / "Info.plist";
  PropertyList info;
  try {
    info = PropertyList::readFile(file.string());
  } catch (const std::exception& e) {
    throw InvalidBundleError(what + " " + bundle.string() +
                             " is not a valid bundle: " + file.string() +
                             " cannot be read as a property list (" + e.what() + ")");
  }
  if (!info.asDictionary())
    throw InvalidBundleError(what + " " + bundle.string() + " is not a valid bundle: " +
                             file.string() + " does not hold a dictionary");
  if (stringValue(info, "CFBundleIdentifier").empty())
    throw InvalidBundleError(what + " " + bundle.string() +
                             " is not a valid bundle: its Info.plist has no CFBundleIdentifier");
  // Identifiers name plug-ins on command lines and in one-line listings.
  for (unsigned char c : stringValue(info, "CFBundleIdentifier"))
    if (c < 0x21 || c == 0x7f)
      throw InvalidBundleError(what + " " + bundle.string() +
                               " is not a valid bundle: its CFBundleIdentifier holds blanks or "
                               "control characters");
  if (stringValue(info, "CFBundleExecutable").empty())
    throw InvalidBundleError(what + " " + bundle.string() +
                             " is not a valid bundle: its Info.plist has no CFBundleExecutable");
  return info;
}

PlugIn scanPlugIn(const fs::path& appex, const fs::path& container,
                  std::vector<TypeDeclaration>& declaredTypes) {
  const PropertyList info = readInfo(appex, "The extension");
  const PropertyList* point = info.valueAtPath({"NSExtension", "NSExtensionPointIdentifier"});
  if (!point || !point->asString() || point->asString()->empty())
    throw InvalidBundleError("The extension " + appex.string() +
                             " is not a valid extension: its Info.plist has no "
                             "NSExtension/NSExtensionPointIdentifier");
  const fs::path executable =
      appex / "Contents" / "MacOS" / fs::path(stringValue(info, "CFBundleExecutable"));
  std::error_code ec;
  if (!fs::is_regular_file(executable, ec) || ::access(executable.c_str(), X_OK) != 0)
    throw InvalidBundleError("The extension " + appex.string() + " has no executable at " +
                             executable.string());
  std::string version = stringValue(info, "CFBundleShortVersionString");
  if (version.empty())
    version = stringValue(info, "CFBundleVersion");
  const PropertyList* types =
      info.valueAtPath({"NSExtension", "NSExtensionAttributes", "QLSupportedContentTypes"});
  for (TypeDeclaration& declaration : typeDeclarationsOf(info))
    declaredTypes.push_back(std::move(declaration));
  return {stringValue(info, "CFBundleIdentifier"),
          version,
          *point->asString(),
          appex,
          executable,
          types ? types->stringArray() : std::vector<std::string>(),
          container};
}

} // namespace

ScannedApplication scanApplicationBundle(const fs::path& path, bool recursive) {
  std::error_code ec;
  if (!fs::is_directory(path, ec))
    throw InvalidBundleError("The application " + path.string() +
                             " is not a valid bundle: there is no such folder");
  ScannedApplication app;
  app.path = fs::canonical(path, ec);
  if (ec)
    throw InvalidBundleError("The application " + path.string() +
                             " cannot be resolved: " + ec.message());
  const PropertyList info = readInfo(app.path, "The application");
  if (const std::string type = stringValue(info, "CFBundlePackageType");
      !type.empty() && type != "APPL")
    throw InvalidBundleError("The bundle " + app.path.string() + " is not an application (its " +
                             "CFBundlePackageType is " + type + ")");
  app.identifier = stringValue(info, "CFBundleIdentifier");
  app.name = stringValue(info, "CFBundleDisplayName");
  if (app.name.empty())
    app.name = stringValue(info, "CFBundleName");
  if (app.name.empty())
    app.name = app.path.stem().string();
  app.version = stringValue(info, "CFBundleShortVersionString");
  app.bundleVersion = stringValue(info, "CFBundleVersion");
  app.executable =
      app.path / "Contents" / "MacOS" / fs::path(stringValue(info, "CFBundleExecutable"));
  app.declaredTypes = typeDeclarationsOf(info);
  if (const fs::path tool = stringValue(info, "LumivaleQuickLookToolPath"); tool.is_absolute())
    app.previewToolPath = tool;

  if (recursive) {
    std::vector<fs::path> appexes;
    const fs::path plugIns = app.path / "Contents" / "PlugIns";
    for (fs::directory_iterator entry(plugIns, ec), end; !ec && entry != end; entry.increment(ec))
      if (entry->path().extension() == ".appex")
        appexes.push_back(entry->path());
    std::sort(appexes.begin(), appexes.end());
    for (const fs::path& appex : appexes)
      app.plugIns.push_back(scanPlugIn(appex, app.path, app.declaredTypes));
  }
  return app;
}
