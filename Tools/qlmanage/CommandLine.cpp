#include "CommandLine.h"

#include <cstdlib>
#include <iostream>

namespace {

const char* const kUsage =
    "usage: qlmanage -o DIR [--app APP] [-c CONTENT_TYPE] [-j N] [--timeout S] [-v] [-q] FILE...\n"
    "       qlmanage -p [--app APP] [-c CONTENT_TYPE] [-j N] [--timeout S] [-v] FILE...\n"
    "       qlmanage -r [cache]\n"
    "       qlmanage -m [plugins]\n"
    "  -o DIR           write DIR/<file name>.qlpreview/ for each FILE and print where\n"
    "  -p               show the previews in the preview panel (without a display: write\n"
    "                   each as a standalone page and print its path)\n"
    "  --app APP        take the extensions from this app bundle's PlugIns, bypassing the\n"
    "                   plug-in registry (default: the registered, switched-on extensions)\n"
    "  -r [cache]       reset the preview servers: their extension processes end and the\n"
    "                   registry is read again; \"cache\" also empties the preview cache\n"
    "  -m               list which registered extension serves each content type\n"
    "  -c CONTENT_TYPE  treat every FILE as this content type\n"
    "  -j N             requests in flight at once (default: hardware threads)\n"
    "  --timeout S      fail a preview that takes longer than S seconds (default: 30)\n"
    "  -v               report each extension process started\n"
    "  -q               print nothing but errors\n";

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "qlmanage: " << message << "\n" << kUsage;
  std::exit(2);
}

} // namespace

Options parseOptions(int argc, char** argv) {
  Options options;
  bool endOfOptions = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* what) -> std::string {
      if (i + 1 >= argc)
        usageError(std::string(what) + " needs a value");
      return argv[++i];
    };
    if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
      options.files.push_back(arg);
    } else if (arg == "--") {
      endOfOptions = true;
    } else if (arg == "-o") {
      options.outputDirectory = value("-o");
    } else if (arg == "-p") {
      options.preview = true;
    } else if (arg == "--app") {
      options.app = value("--app");
    } else if (arg == "-c") {
      options.contentType = value("-c");
    } else if (arg == "-j") {
      const std::string n = value("-j");
      char* end = nullptr;
      const long jobs = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end || jobs < 1 || jobs > 256)
        usageError("-j needs a number from 1 to 256");
      options.jobs = static_cast<unsigned>(jobs);
    } else if (arg == "--timeout") {
      const std::string text = value("--timeout");
      char* end = nullptr;
      const double seconds = std::strtod(text.c_str(), &end);
      if (text.empty() || *end || !(seconds > 0) || seconds > 86400)
        usageError("--timeout needs a positive number of seconds (at most 86400)");
      options.timeout = std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
    } else if (arg == "-v") {
      options.verbose = true;
    } else if (arg == "-q") {
      options.quiet = true;
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      std::exit(0);
    } else {
      usageError("unknown option " + arg);
    }
  }
  if (options.outputDirectory.has_value() == options.preview)
    usageError("give exactly one of -o DIR and -p");
  if (options.files.empty())
    usageError("no files given");
  return options;
}

bool hasDisplay() {
  auto present = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  return present("DISPLAY") || present("WAYLAND_DISPLAY") || present("QT_QPA_PLATFORM");
}
