// CommandLine: qlmanage's options for previewing files (-o DIR or -p), as parsed from its
// command line. Shared by qlmanage and qlmanage-panel, which is handed the same command line.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct Options {
  std::optional<std::filesystem::path> outputDirectory;
  bool preview = false;
  std::optional<std::filesystem::path> app; // nullopt: the plug-in registry
  std::optional<std::string> contentType;
  unsigned jobs = std::max(2u, std::thread::hardware_concurrency());
  std::chrono::milliseconds timeout = std::chrono::seconds(30);
  bool verbose = false;
  bool quiet = false;
  std::vector<std::string> files;
};

// Parses argv; prints the usage and exits with status 2 on a malformed command line, or with
// status 0 after printing it for -h.
Options parseOptions(int argc, char** argv);

// Whether the environment names a display that -p can show the panel on (without one, -p
// writes standalone pages).
bool hasDisplay();
