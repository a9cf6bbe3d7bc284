// SUArchiveExtractor: unpacks a verified .tar.gz update into an empty staging folder, refusing
// the whole archive when any entry could reach outside that folder (absolute paths, "..", links
// pointing out, writing through a link) or is anything but a file, a folder or a link (devices,
// fifos, sockets, hard links). Set-user-ID and set-group-ID bits are dropped.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace SUArchiveExtractor {

inline constexpr std::uint64_t kMaximumEntries = 200000;
inline constexpr std::uint64_t kMaximumUnpackedSize = 4ull << 30;

// nullopt on success; otherwise why the archive was refused. `destination` must be an existing,
// empty folder; after a failure it may hold part of the archive and should be removed.
std::optional<std::string> extract(const std::filesystem::path& archive,
                                   const std::filesystem::path& destination);

} // namespace SUArchiveExtractor
