// SUAutoupdate: the relaunch helper that finishes an installation after the application has
// quit. It runs as its own small process (the Autoupdate executable beside the application's),
// so that the new version starts only once the old one is gone.
#pragma once

#include <chrono>
#include <filesystem>
#include <sys/types.h>

struct SUAutoupdatePlan {
  pid_t waitPid = 0;
  std::filesystem::path installed;  // holds the new bundle
  std::filesystem::path old;        // holds the previous bundle, inside `staging`
  std::filesystem::path staging;    // removed at the end
  std::filesystem::path executable; // relative to a bundle
  // How long the application may take to quit, and how long the new version must run (or exit
  // successfully, e.g. handing over to another instance) to count as started.
  std::chrono::milliseconds quitTimeout{60000};
  std::chrono::milliseconds startWindow{3000};
};

// Carries out the plan; returns the process exit status (0 when the new version started).
int SUAutoupdateRun(const SUAutoupdatePlan& plan);

// Reads a plan from the helper's arguments (--pid, --installed, --old, --staging, --executable)
// and carries it out. 64 for bad arguments.
int SUAutoupdateMain(int argc, char** argv);
