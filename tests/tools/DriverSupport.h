// Command-line plumbing shared by the page drivers: argument parsing and writing the page so
// that a failed write never leaves a partial file.
#pragma once

#include "Foundation/NSError.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace DriverSupport {

struct Arguments {
  std::string bundlePath;
  std::string input;
  std::string output;
  std::set<std::string, std::less<>> flags; // switches without values, e.g. "--preview"
};

// Parses "[--bundle DIR] [switches] INPUT OUTPUT"; nullopt on a usage error. `--help` prints the
// usage and exits 0.
inline std::optional<Arguments> parseArguments(int argc, char** argv, std::string defaultBundle,
                                               std::initializer_list<std::string_view> switches,
                                               const char* usage) {
  Arguments args{std::move(defaultBundle), {}, {}, {}};
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fprintf(stdout, "%s\n", usage);
      std::exit(0);
    }
    if (arg == "--bundle" && i + 1 < argc) {
      args.bundlePath = argv[++i];
    } else if (std::find(switches.begin(), switches.end(), arg) != switches.end()) {
      args.flags.emplace(arg);
    } else if (positional < 2 && !arg.starts_with("--")) {
      (positional++ == 0 ? args.input : args.output) = arg;
    } else {
      positional = -1;
      break;
    }
  }
  if (positional != 2) {
    std::fprintf(stderr, "%s\n", usage);
    return std::nullopt;
  }
  return args;
}

// Writes `page` to `output`. A regular file is written under a temporary name and moved into
// place; a device or pipe (/dev/null, /dev/stdout) is written directly and never replaced.
inline bool writePage(const std::string& output, const std::string& page) {
  std::error_code ec;
  const auto status = std::filesystem::status(output, ec);
  const bool special = std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
  const std::string target = special ? output : output + ".partial";
  {
    std::ofstream out(target, std::ios::binary | (special ? std::ios::out : std::ios::trunc));
    out.write(page.data(), static_cast<std::streamsize>(page.size()));
    out.close();
    if (!out) {
      if (!special)
        std::remove(target.c_str());
      return false;
    }
  }
  if (!special && std::rename(target.c_str(), output.c_str()) != 0) {
    std::remove(target.c_str());
    return false;
  }
  return true;
}

// Renders the page with `render` and writes it to args.output. A failure is reported on
// standard error as "<tool>: <file>: <what went wrong>". Returns the exit status.
inline int renderAndWrite(const char* tool, const Arguments& args,
                          const std::function<std::string()>& render) {
  std::string page;
  try {
    page = render();
  } catch (...) {
    std::fprintf(stderr, "%s: %s: %s\n", tool, args.input.c_str(),
                 makeNSError(std::current_exception()).localizedDescription.c_str());
    return 1;
  }
  if (!writePage(args.output, page)) {
    std::fprintf(stderr, "%s: %s: could not be written\n", tool, args.output.c_str());
    return 1;
  }
  return 0;
}

} // namespace DriverSupport
