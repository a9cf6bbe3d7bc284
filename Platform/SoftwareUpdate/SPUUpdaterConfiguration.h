// SPUUpdaterConfiguration: what the updater needs to know about the application it updates.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

class Bundle;

struct SPUUpdaterConfiguration {
  // The appcast (http, https or file URL).
  std::string feedURL;
  // The base64 Ed25519 public key that signs every release archive.
  std::string publicEDKey;
  // Seconds between scheduled checks (one day unless the bundle says otherwise).
  double scheduledCheckInterval = 86400;
  // CFBundleVersion of the installed application.
  std::string bundleVersion;
  // The installed bundle that an update replaces.
  std::filesystem::path bundlePath;
  // The executable started after an update, relative to the bundle (Contents/MacOS/<name>).
  std::filesystem::path relaunchExecutable;
  std::string applicationName = "Lumivale Quick Look";

  // Read from a bundle's Info.plist.
  static SPUUpdaterConfiguration fromBundle(const Bundle& bundle);
};
