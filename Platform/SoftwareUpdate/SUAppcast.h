// SUAppcast: reads an appcast (RSS 2.0 with Sparkle's namespace) and picks the release to offer.
// Only items for Linux count; items without a version, an archive URL or its length are skipped.
#pragma once

#include "SoftwareUpdate/SUAppcastItem.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace SUAppcast {

inline constexpr std::string_view kSparkleNamespace =
    "http://www.andymatuschak.org/xml-namespaces/sparkle";
// Feeds are small; anything larger is refused rather than parsed.
inline constexpr std::size_t kMaximumFeedSize = 4 * 1024 * 1024;
inline constexpr std::size_t kMaximumItems = 10000;

struct ParseResult {
  std::vector<SUAppcastItem> items;
  // Set when the feed is not a readable appcast (then `items` is empty).
  std::string error;
};

// The Linux items of the feed, in feed order.
ParseResult parse(std::string_view xml);

// The newest item that is newer than `currentVersion`, or nullopt.
std::optional<SUAppcastItem> bestUpdate(const std::vector<SUAppcastItem>& items,
                                        std::string_view currentVersion);

} // namespace SUAppcast
