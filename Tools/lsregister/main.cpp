// lsregister: registers application bundles with Launch Services for the current user: the
// application's record, the extensions inside it (entered into the plug-in registry), and the
// desktop integration (desktop entry and MIME types). -u takes all of it away again.

#include "LaunchServices/BundleScan.h"
#include "LaunchServices/Registration.h"
#include "QuickLookService/PanelAgentNames.h"
#include "QuickLookService/ServiceInstallation.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kUsage = "usage: lsregister [-f] [-R] [-trusted] BUNDLE...\n"
                           "       lsregister -u BUNDLE...\n"
                           "       lsregister -dump\n"
                           "  -f        register again even when nothing changed\n"
                           "  -R        also register the extensions inside each bundle\n"
                           "  -trusted  record the bundle as trusted\n"
                           "  -u        unregister each bundle and remove its desktop files\n"
                           "  -dump     list the registered applications and plug-ins\n";

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "lsregister: " << message << "\n" << kUsage;
  std::exit(2);
}

// A tool beside this one (qlmanage, quicklookd), or the bare name when this one's place is unknown.
fs::path neighbouringTool(const char* name) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path(name) : self.parent_path() / name;
}

// The qlmanage beside this tool: what the desktop entry runs when the app names no tool.
fs::path neighbouringPreviewTool() {
  return neighbouringTool("qlmanage");
}

// The session bus starts the preview server and the panel agent beside this tool on the first
// request for each.
void installPreviewServices() {
  const fs::path server = neighbouringTool("quicklookd");
  if (::access(server.c_str(), X_OK) == 0)
    ServiceInstallation::installServiceFile(ServiceInstallation::dataHome(), server);
  const fs::path agent = neighbouringTool("qlpanelagent");
  if (::access(agent.c_str(), X_OK) == 0)
    ServiceInstallation::installServiceFile(ServiceInstallation::dataHome(),
                                            PanelAgentNames::kService, agent);
}

void uninstallPreviewServices() {
  ServiceInstallation::uninstallServiceFile(ServiceInstallation::dataHome());
  ServiceInstallation::uninstallServiceFile(ServiceInstallation::dataHome(),
                                            PanelAgentNames::kService);
}

void printWarnings(const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings)
    std::cerr << "lsregister: " << warning << "\n";
}

} // namespace

int main(int argc, char** argv) {
  RegistrationOptions options;
  bool unregister = false;
  bool dump = false;
  std::vector<fs::path> bundles;
  bool endOfOptions = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (endOfOptions || arg.empty() || arg[0] != '-') {
      bundles.emplace_back(arg);
    } else if (arg == "--") {
      endOfOptions = true;
    } else if (arg == "-f") {
      options.force = true;
    } else if (arg == "-R") {
      options.recursive = true;
    } else if (arg == "-trusted") {
      options.trusted = true;
    } else if (arg == "-u") {
      unregister = true;
    } else if (arg == "-dump") {
      dump = true;
    } else if (arg == "-h" || arg == "-help" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else {
      usageError("unknown option " + arg);
    }
  }
  if (dump && (unregister || !bundles.empty()))
    usageError("-dump takes no bundles");
  if (!dump && bundles.empty())
    usageError("no bundle given");
  if (unregister && (options.force || options.recursive || options.trusted))
    usageError("-u cannot be combined with -f, -R or -trusted");

  Registration registration(RegistryLocation::forCurrentUser(),
                            DesktopLocation::forCurrentUser(neighbouringPreviewTool()));
  if (dump) {
    try {
      std::cout << registration.dump();
    } catch (const std::exception& e) {
      std::cerr << "lsregister: " << e.what() << "\n";
      return 1;
    }
    printWarnings(registration.warnings());
    return 0;
  }

  int status = 0;
  for (const fs::path& bundle : bundles) {
    try {
      if (unregister) {
        registration.unregisterBundle(bundle);
        uninstallPreviewServices();
      } else {
        registration.registerBundle(bundle, options);
        installPreviewServices();
      }
    } catch (const std::exception& e) {
      std::cerr << "lsregister: " << e.what() << "\n";
      status = 1;
    }
  }
  printWarnings(registration.warnings());
  return status;
}
