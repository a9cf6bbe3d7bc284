#include "ExtensionKit/ExtensionCatalog.h"

#include "Foundation/PropertyList.h"

#include <algorithm>
#include <stdexcept>

namespace fs = std::filesystem;

ExtensionCatalog::ExtensionCatalog(const fs::path& appBundle) {
  const fs::path appInfo = appBundle / "Contents" / "Info.plist";
  if (!fs::is_regular_file(appInfo))
    throw std::runtime_error("no app bundle at " + appBundle.string());
  UTType::registerTypeDeclarations(PropertyList::readFile(appInfo.string()));

  std::vector<fs::path> plugins;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(appBundle / "Contents" / "PlugIns", ec))
    if (entry.path().extension() == ".appex")
      plugins.push_back(entry.path());
  std::sort(plugins.begin(), plugins.end());
  for (const fs::path& plugin : plugins) {
    PropertyList info;
    try {
      info = PropertyList::readFile((plugin / "Contents" / "Info.plist").string());
    } catch (const std::exception&) {
      continue; // not a usable extension
    }
    UTType::registerTypeDeclarations(info);
    const PropertyList* point = info.valueAtPath({"NSExtension", "NSExtensionPointIdentifier"});
    if (!point || !point->asString() || *point->asString() != "com.apple.quicklook.preview")
      continue;
    const PropertyList* executable = info.member("CFBundleExecutable");
    const PropertyList* types =
        info.valueAtPath({"NSExtension", "NSExtensionAttributes", "QLSupportedContentTypes"});
    if (!executable || !executable->asString() || !types)
      continue;
    extensions_.push_back({plugin.stem().string(),
                           plugin / "Contents" / "MacOS" / *executable->asString(),
                           types->stringArray()});
  }
}

const PreviewExtension* ExtensionCatalog::extensionFor(const UTType& type) const {
  for (const PreviewExtension& extension : extensions_)
    for (const std::string& supported : extension.supportedTypes)
      if (type.identifier() == supported ||
          (UTType::fromIdentifier(supported) && type.conforms(*UTType::fromIdentifier(supported))))
        return &extension;
  return nullptr;
}
