#include "Foundation/NSUserDefaults.h"

#include "Foundation/AtomicWrite.h"
#include "Foundation/Bundle.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <plist/plist.h>
#include <pwd.h>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Larger files are not preferences; they are treated as damaged rather than read into memory.
constexpr std::uintmax_t kMaximumFileSize = 16 * 1024 * 1024;

fs::path configHome() {
  // Relative values are ignored, as the base directory specification asks.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
    return xdg;
  if (const char* home = std::getenv("HOME"); home && home[0] == '/')
    return fs::path(home) / ".config";
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
    return fs::path(entry->pw_dir) / ".config";
  return fs::temp_directory_path();
}

std::string applicationIdentifier() {
  if (std::optional<std::string> identifier = Bundle::main().bundleIdentifier();
      identifier && !identifier->empty() && identifier->find('/') == std::string::npos &&
      *identifier != "." && *identifier != "..")
    return *identifier;
  std::error_code ec;
  fs::path executable = fs::read_symlink("/proc/self/exe", ec);
  return ec || executable.filename().empty() ? "lumivale" : executable.filename().string();
}

// A name beside `path` that no file has yet: <name>.damaged-<UTC time>[-n].
fs::path asideName(const fs::path& path) {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  fs::path base = path;
  base += std::string(".damaged-") + stamp;
  fs::path candidate = base;
  std::error_code ec;
  for (int n = 1; fs::exists(fs::symlink_status(candidate, ec)); ++n) {
    candidate = base;
    candidate += "-" + std::to_string(n);
  }
  return candidate;
}

} // namespace

NSUserDefaults& NSUserDefaults::standardUserDefaults() {
  static NSUserDefaults standard(configHome() / "lumivale" / (applicationIdentifier() + ".plist"));
  return standard;
}

NSUserDefaults::NSUserDefaults(fs::path plist) : path_(std::move(plist)) {
  load();
}

NSUserDefaults::~NSUserDefaults() {
  plist_free(static_cast<plist_t>(root_));
}

void NSUserDefaults::load() {
  root_ = plist_new_dict();
  std::error_code ec;
  fs::file_status status = fs::symlink_status(path_, ec);
  if (!fs::exists(status))
    return;
  std::string bytes;
  bool readable = false;
  if (fs::is_regular_file(fs::status(path_, ec)) && fs::file_size(path_, ec) <= kMaximumFileSize) {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    readable = in.good() || in.eof();
    bytes = std::move(content).str();
  }
  plist_t parsed = nullptr;
  if (readable && !bytes.empty())
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &parsed);
  if (parsed && plist_get_node_type(parsed) == PLIST_DICT) {
    plist_free(static_cast<plist_t>(root_));
    root_ = parsed;
    return;
  }
  plist_free(parsed);
  // Damaged: keep it for whoever wants to look, and start afresh.
  fs::path aside = asideName(path_);
  fs::rename(path_, aside, ec);
  if (ec) {
    std::fprintf(stderr, "NSUserDefaults: %s is damaged and cannot be moved aside (%s)\n",
                 path_.c_str(), ec.message().c_str());
    writable_ = false;
  } else {
    std::fprintf(stderr, "NSUserDefaults: %s was damaged and is kept as %s\n", path_.c_str(),
                 aside.c_str());
  }
}

void NSUserDefaults::save() const {
  if (!writable_) {
    std::fprintf(stderr, "NSUserDefaults: not saving over the damaged %s\n", path_.c_str());
    return;
  }
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(static_cast<plist_t>(root_), &xml, &length);
  if (!xml)
    return;
  std::string bytes(xml, length);
  plist_to_xml_free(xml);
  try {
    writeFileAtomically(path_, bytes, 0600);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "NSUserDefaults: %s\n", error.what());
  }
}

void* NSUserDefaults::find(std::string_view key) const {
  return plist_dict_get_item(static_cast<plist_t>(root_), std::string(key).c_str());
}

void NSUserDefaults::set(std::string_view key, void* node) {
  std::lock_guard lock(mutex_);
  std::string name(key);
  if (node)
    plist_dict_set_item(static_cast<plist_t>(root_), name.c_str(), static_cast<plist_t>(node));
  else if (find(key))
    plist_dict_remove_item(static_cast<plist_t>(root_), name.c_str());
  else
    return;
  save();
}

bool NSUserDefaults::boolForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  plist_t node = static_cast<plist_t>(find(key));
  switch (node ? plist_get_node_type(node) : PLIST_NONE) {
  case PLIST_BOOLEAN: {
    uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
  }
  case PLIST_UINT: {
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return value != 0;
  }
  case PLIST_REAL: {
    double value = 0;
    plist_get_real_val(node, &value);
    return value != 0;
  }
  case PLIST_STRING: {
    // As on macOS: "YES"/"true"/a non-zero number read as true.
    std::string text = plist_get_string_ptr(node, nullptr);
    return text == "YES" || text == "yes" || text == "true" || text == "TRUE" ||
           std::atof(text.c_str()) != 0;
  }
  default:
    return false;
  }
}

void NSUserDefaults::setBool(bool value, std::string_view key) {
  set(key, plist_new_bool(value ? 1 : 0));
}

std::optional<std::string> NSUserDefaults::stringForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  plist_t node = static_cast<plist_t>(find(key));
  if (!node || plist_get_node_type(node) != PLIST_STRING)
    return std::nullopt;
  const char* text = plist_get_string_ptr(node, nullptr);
  return std::string(text ? text : "");
}

void NSUserDefaults::setString(std::string_view value, std::string_view key) {
  set(key, plist_new_string(std::string(value).c_str()));
}

std::optional<double> NSUserDefaults::doubleForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  plist_t node = static_cast<plist_t>(find(key));
  switch (node ? plist_get_node_type(node) : PLIST_NONE) {
  case PLIST_REAL: {
    double value = 0;
    plist_get_real_val(node, &value);
    return value;
  }
  case PLIST_UINT: {
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return static_cast<double>(static_cast<int64_t>(value));
  }
  default:
    return std::nullopt;
  }
}

void NSUserDefaults::setDouble(double value, std::string_view key) {
  set(key, plist_new_real(value));
}

void NSUserDefaults::removeObjectForKey(std::string_view key) {
  set(key, nullptr);
}
