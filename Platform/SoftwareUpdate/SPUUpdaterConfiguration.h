// SPUUpdaterConfiguration: what the updater needs to know about the application it updates.
#pragma once

#include <filesystem>
#include <functional>
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
  // CFBundleIdentifier of the installed application; an update must have the same one.
  std::string bundleIdentifier;
  // The installed bundle that an update replaces.
  std::filesystem::path bundlePath;
  // The executable started after an update, relative to the bundle (Contents/MacOS/<name>).
  std::filesystem::path relaunchExecutable;
  // The relaunch helper (Autoupdate), normally beside the application's executable.
  std::filesystem::path installerToolPath;
  // The process that must quit before the new version starts (this one unless a test says).
  int processToQuit = 0;
  // Quits the application once the update is in place (QCoreApplication::quit when empty).
  std::function<void()> quitApplication;
  std::string applicationName = "Lumivale Quick Look";

  // Read from a bundle's Info.plist.
  static SPUUpdaterConfiguration fromBundle(const Bundle& bundle);
};
