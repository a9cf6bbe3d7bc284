#include "ServiceCommands.h"

#include "PlugInKit/PreviewPlugInChoice.h"
#include "PlugInKit/QuickLookServiceReset.h"
#include "QuickLookService/PanelAgentClient.h"
#include "QuickLookService/PreviewServiceClient.h"

#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const kUsage = "usage: qlmanage -r [cache] [-q]\n"
                           "       qlmanage -m [plugins]\n"
                           "  -r        reset the preview servers: they restart their extensions\n"
                           "            and read the plug-in registry again\n"
                           "  -r cache  also empty the preview cache\n"
                           "  -m        list which registered extension serves each content type\n";

int usageError(const std::string& message) {
  std::cerr << "qlmanage: " << message << "\n" << kUsage;
  return 2;
}

int reset(bool cache, bool quiet) {
  const RegistryLocation location = RegistryLocation::forCurrentUser();
  try {
    QuickLookServiceReset::requestReset(location);
    // A preview server on the session bus is told at once (none running is a success).
    if (std::string why; !PreviewServiceClient::reset(cache, why)) {
      std::cerr << "qlmanage: cannot reset the preview server: " << why << "\n";
      return 1;
    }
    // The panel agent closes its panels and quits: the next panel starts afresh.
    if (std::string why; !PanelAgentClient::quit(why)) {
      std::cerr << "qlmanage: cannot reset the panel agent: " << why << "\n";
      return 1;
    }
    if (!quiet)
      std::cout << "qlmanage: the preview servers were reset\n";
    if (cache) {
      QuickLookServiceReset::emptyPreviewCache(location);
      if (!quiet)
        std::cout << "qlmanage: the preview cache " << location.previewCacheFolder().string()
                  << " was emptied\n";
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "qlmanage: " << e.what() << "\n";
    return 1;
  }
}

int listServers() {
  PlugInRegistry registry;
  RegistryState state;
  try {
    state = registry.read();
  } catch (const std::exception& e) {
    std::cerr << "qlmanage: " << e.what() << "\n";
    return 1;
  }
  for (const std::string& warning : registry.warnings())
    std::cerr << "qlmanage: " << warning << "\n";
  registerDeclaredTypes(state);

  std::cout << "plugins:\n";
  std::set<std::string> listed;
  for (const PlugIn& plugIn : state.plugIns) {
    if (plugIn.extensionPoint != kQuickLookPreviewExtensionPoint)
      continue;
    for (const std::string& contentType : plugIn.supportedContentTypes) {
      if (!listed.insert(contentType).second)
        continue;
      std::cout << "  " << contentType << " -> ";
      const std::optional<UTType> type = UTType::fromIdentifier(contentType);
      if (!type) {
        std::cout << "(no application declares this type)\n";
        continue;
      }
      const PreviewPlugInChoice choice = choosePreviewPlugIn(state, *type);
      if (choice.plugIn)
        std::cout << choice.plugIn->identifier << " (" << choice.plugIn->version << ") "
                  << choice.plugIn->path.string() << "\n";
      else
        std::cout << "none: " << choice.failureReason(contentType) << "\n";
    }
  }
  if (listed.empty())
    std::cout << "  (no preview extensions are registered)\n";
  return 0;
}

} // namespace

std::optional<int> runServiceCommand(int argc, char** argv) {
  if (argc < 2)
    return std::nullopt;
  const std::string command = argv[1];
  if (command != "-r" && command != "-m")
    return std::nullopt;
  std::vector<std::string> rest(argv + 2, argv + argc);
  if (command == "-m") {
    if (rest.size() > 1 || (rest.size() == 1 && rest[0] != "plugins"))
      return usageError("-m takes no arguments but \"plugins\"");
    return listServers();
  }
  bool cache = false;
  bool quiet = false;
  for (const std::string& arg : rest) {
    if (arg == "cache" && !cache)
      cache = true;
    else if (arg == "-q")
      quiet = true;
    else
      return usageError("-r takes only \"cache\" and -q, not " + arg);
  }
  return reset(cache, quiet);
}
