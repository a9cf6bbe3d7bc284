// SUAppcastItem: one release of an appcast, as read from its <item>.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct SUAppcastItem {
  std::string title;
  // sparkle:version: compared with CFBundleVersion.
  std::string versionString;
  // sparkle:shortVersionString: shown to the user (falls back to versionString).
  std::string displayVersionString;
  // The release notes: inline <description> text (HTML or plain), or a link to them.
  std::string itemDescription;
  std::string releaseNotesURL;
  std::string fileURL;
  std::uint64_t contentLength = 0;
  // sparkle:edSignature (base64), empty when the item is unsigned.
  std::string edSignature;
  std::string os;
  std::string minimumSystemVersion;
  std::string pubDate;
};
