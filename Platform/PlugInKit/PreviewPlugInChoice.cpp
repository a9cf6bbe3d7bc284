#include "PlugInKit/PreviewPlugInChoice.h"

#include "Foundation/PropertyList.h"

#include <set>

namespace fs = std::filesystem;

namespace {

enum class Support { none, conforming, exact };

Support supportFor(const PlugIn& plugIn, const UTType& type) {
  Support best = Support::none;
  for (const std::string& supported : plugIn.supportedContentTypes) {
    if (supported == type.identifier())
      return Support::exact;
    if (std::optional<UTType> declared = UTType::fromIdentifier(supported);
        declared && type.conforms(*declared))
      best = Support::conforming;
  }
  return best;
}

} // namespace

PreviewPlugInChoice choosePreviewPlugIn(const RegistryState& state, const UTType& type) {
  PreviewPlugInChoice choice;
  for (Support wanted : {Support::exact, Support::conforming}) {
    for (const PlugIn& plugIn : state.plugIns) {
      if (plugIn.extensionPoint != kQuickLookPreviewExtensionPoint ||
          supportFor(plugIn, type) != wanted)
        continue;
      if (state.electionFor(plugIn.identifier) == Election::ignore) {
        choice.switchedOff.push_back(plugIn);
      } else if (!choice.plugIn) {
        choice.plugIn = plugIn;
      }
    }
  }
  return choice;
}

std::string PreviewPlugInChoice::failureReason(const std::string& contentType) const {
  if (plugIn)
    return {};
  if (switchedOff.empty())
    return "No registered preview extension handles content type " + contentType +
           " (register the application with: lsregister -f -R -trusted APP).";
  const std::string& identifier = switchedOff.front().identifier;
  return "The preview extension " + identifier + " for content type " + contentType +
         " is switched off; switch it on with: pluginkit -e use -i " + identifier;
}

void registerDeclaredTypes(const RegistryState& state) {
  std::set<fs::path> seen;
  auto declare = [&](const fs::path& bundle) {
    if (bundle.empty() || !seen.insert(bundle).second)
      return;
    try {
      UTType::registerTypeDeclarations(
          PropertyList::readFile((bundle / "Contents" / "Info.plist").string()));
    } catch (const std::exception&) {
      // A bundle that went away or broke declares nothing; its plug-in fails when run.
    }
  };
  for (const PlugIn& plugIn : state.plugIns) {
    declare(plugIn.container);
    declare(plugIn.path);
  }
}
