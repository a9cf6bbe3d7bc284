// pluginkit: the plug-in registry on the command line. -m lists the registered plug-ins with
// the user's election; -e stores an election (use, ignore or default) for an identifier.

#include "PlugInKit/PlugInListing.h"
#include "PlugInKit/PlugInRegistry.h"

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

namespace {

const char* const kUsage =
    "usage: pluginkit -m [-v] [-p EXTENSION_POINT] [-i IDENTIFIER]\n"
    "       pluginkit -e use|ignore|default -i IDENTIFIER\n"
    "  -m   list the matching plug-ins: '+' used, '-' ignored, blank for the default\n"
    "  -v   also show each plug-in's bundle path\n"
    "  -p   only plug-ins of this extension point\n"
    "  -i   only the plug-ins with this bundle identifier\n"
    "  -e   store the user's election for every plug-in with the identifier\n";

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "pluginkit: " << message << "\n" << kUsage;
  std::exit(2);
}

void printWarnings(const PlugInRegistry& registry) {
  for (const std::string& warning : registry.warnings())
    std::cerr << "pluginkit: " << warning << "\n";
}

} // namespace

int main(int argc, char** argv) {
  bool match = false;
  bool verbose = false;
  std::optional<Election> election;
  PlugInQuery query;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* what) -> std::string {
      if (i + 1 >= argc)
        usageError(std::string(what) + " needs a value");
      return argv[++i];
    };
    if (arg == "-m") {
      match = true;
    } else if (arg == "-v") {
      verbose = true;
    } else if (arg == "-p") {
      query.extensionPoint = value("-p");
    } else if (arg == "-i") {
      query.identifier = value("-i");
    } else if (arg == "-e") {
      const std::string name = value("-e");
      election = electionNamed(name);
      if (!election)
        usageError("-e takes use, ignore or default, not " + name);
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else {
      usageError(arg.starts_with("-") ? "unknown option " + arg : "unexpected argument " + arg);
    }
  }
  if (match == election.has_value())
    usageError("give exactly one of -m and -e");
  if (election && (!query.identifier || query.extensionPoint || verbose))
    usageError("-e needs -i IDENTIFIER and takes no -p or -v");

  PlugInRegistry registry;
  try {
    if (election) {
      const bool known = registry.elect(*query.identifier, *election);
      printWarnings(registry);
      if (!known) {
        std::cerr << "pluginkit: no registered plug-in has the identifier " << *query.identifier
                  << "\n";
        return 1;
      }
      return 0;
    }
    const RegistryState state = registry.read();
    printWarnings(registry);
    const std::string lines = listing(state, query, verbose);
    std::cout << (lines.empty() ? "(no matches)\n" : lines);
    return 0;
  } catch (const std::exception& e) {
    printWarnings(registry);
    std::cerr << "pluginkit: " << e.what() << "\n";
    return 1;
  }
}
