#include "Foundation/Bundle.h"

#include <atomic>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string nextIdentity() {
  static std::atomic<unsigned long long> counter{0};
  return "Bundle#" + std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
}

fs::path bundlePathOfExecutable() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec)
    return fs::current_path();
  fs::path dir = exe.parent_path();
  if (dir.filename() == "MacOS" && dir.parent_path().filename() == "Contents")
    return dir.parent_path().parent_path();
  return dir;
}

} // namespace

Bundle::Bundle(fs::path bundlePath)
    : bundlePath_(std::move(bundlePath)), identity_(nextIdentity()) {
  fs::path plist = bundlePath_ / "Contents" / "Info.plist";
  std::error_code ec;
  if (fs::is_regular_file(plist, ec)) {
    try {
      info_ = PropertyList::readFile(plist.string());
    } catch (...) {
      // An unreadable Info.plist leaves the dictionary empty, as for a bundle without one.
    }
  }
}

const Bundle& Bundle::main() {
  static const Bundle mainBundle(bundlePathOfExecutable());
  return mainBundle;
}

fs::path Bundle::resourcesPath() const {
  return bundlePath_ / "Contents" / "Resources";
}
fs::path Bundle::plugInsPath() const {
  return bundlePath_ / "Contents" / "PlugIns";
}

std::optional<URL> Bundle::urlForResource(std::string_view name, std::string_view extension,
                                          std::optional<std::string_view> subdirectory) const {
  if (name.empty() || name.find('/') != std::string_view::npos)
    return std::nullopt;
  fs::path file = resourcesPath();
  if (subdirectory && !subdirectory->empty())
    file /= fs::path(*subdirectory);
  std::string leaf(name);
  if (!extension.empty()) {
    leaf += '.';
    leaf += extension;
  }
  file /= leaf;
  std::error_code ec;
  if (!fs::is_regular_file(file, ec))
    return std::nullopt;
  return URL::fileURLWithPath(file.string());
}

std::optional<std::string> Bundle::infoString(std::string_view key) const {
  if (const PropertyList* value = info_.member(key))
    if (const std::string* s = value->asString())
      return *s;
  return std::nullopt;
}
