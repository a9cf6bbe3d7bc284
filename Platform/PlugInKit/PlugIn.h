// PlugIn: one registered plug-in (an extension bundle found inside an application), and
// Election: the user's choice about plug-ins of one identifier.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct PlugIn {
  std::string identifier;     // CFBundleIdentifier, "com.lumivale.quicklook.markdown"
  std::string version;        // CFBundleShortVersionString (else CFBundleVersion), may be empty
  std::string extensionPoint; // NSExtensionPointIdentifier, "com.apple.quicklook.preview"
  std::filesystem::path path; // the .appex folder
  std::filesystem::path executable;
  std::vector<std::string> supportedContentTypes; // QLSupportedContentTypes
  std::filesystem::path container;                // the application bundle that carries it

  friend bool operator==(const PlugIn&, const PlugIn&) = default;
};

// "default" is no stored choice: the plug-in is used unless the user ignores it.
enum class Election { automatic, use, ignore };

// "use", "ignore", "default"; and back (nullopt for any other word).
std::string_view electionName(Election election);
std::optional<Election> electionNamed(std::string_view name);
// The first column of a registry listing: '+' used, '-' ignored, ' ' the default.
char electionFlag(Election election);
