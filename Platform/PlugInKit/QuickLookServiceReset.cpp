#include "PlugInKit/QuickLookServiceReset.h"

#include "Foundation/AtomicWrite.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

std::uint64_t QuickLookServiceReset::generation(const RegistryLocation& location) {
  std::ifstream in(location.resetStampFile(), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::uint64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::uint64_t QuickLookServiceReset::requestReset(const RegistryLocation& location) {
  RegistryLock lock(location);
  const std::uint64_t next = generation(location) + 1;
  writeFileAtomically(location.resetStampFile(), std::to_string(next) + "\n");
  return next;
}

void QuickLookServiceReset::emptyPreviewCache(const RegistryLocation& location) {
  const fs::path folder = location.previewCacheFolder();
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(folder, ec)))
    return;
  if (!fs::is_directory(fs::symlink_status(folder, ec)))
    throw std::system_error(std::make_error_code(std::errc::not_a_directory),
                            "the preview cache " + folder.string() + " is not a folder");
  for (fs::directory_iterator entry(folder, ec), end; !ec && entry != end; entry.increment(ec)) {
    std::error_code removal;
    fs::remove_all(entry->path(), removal);
    if (removal)
      throw std::system_error(removal, "cannot remove " + entry->path().string());
  }
  if (ec)
    throw std::system_error(ec, "cannot read the preview cache " + folder.string());
}
