// Test support for the host application: an app bundle in a temporary folder whose Info.plist
// points at recording fake tools, with its own defaults and login item, and a Qt application
// on the offscreen platform to run the main queue.
#pragma once

#include "AppDelegate.h"
#include "AppKit/NSApplication.h"
#include "Foundation/Bundle.h"
#include "Foundation/NSUserDefaults.h"
#include "ServiceManagement/SMAppService.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace apptest {

// The Qt application for widget tests, on the offscreen platform.
inline NSApplication& application() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  return NSApplication::sharedApplication();
}

// Runs the event loop until `done` or the timeout; returns `done()`.
inline bool spinUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

inline void spinFor(std::chrono::milliseconds time) {
  spinUntil([] { return false; }, time);
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> readLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::istringstream in(readFile(path));
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// A temporary app bundle with fake tools and its own defaults and login item.
class TestApp {
public:
  explicit TestApp(std::map<std::string, std::string> info = {}) {
    static int counter = 0;
    root_ = std::filesystem::temp_directory_path() /
            ("lumivale-app-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(root_ / "tools");
    bundlePath_ = root_ / "Lumivale Quick Look.app";
    std::filesystem::create_directories(bundlePath_ / "Contents" / "MacOS");
    for (const char* tool : {"lsregister", "pluginkit", "qlmanage"})
      std::filesystem::create_symlink(LUMIVALE_SOURCE_DIR "/tests/desktop/fake_tool.sh",
                                      root_ / "tools" / tool);
    std::map<std::string, std::string> keys = {
        {"CFBundleIdentifier", "com.lumivale.quicklook"},
        {"CFBundleShortVersionString", "1.4"},
        {"CFBundleVersion", "27"},
        {"LumivaleLaunchServicesToolPath", (root_ / "tools" / "lsregister").string()},
        {"LumivalePlugInKitToolPath", (root_ / "tools" / "pluginkit").string()},
        {"LumivaleQuickLookToolPath", (root_ / "tools" / "qlmanage").string()},
        {"LumivaleForeignSQLitePreviewIdentifier", "org.example.sqlite"},
    };
    for (auto& [key, value] : info)
      if (value == "<absent>")
        keys.erase(key);
      else
        keys[key] = value;
    std::ofstream plist(bundlePath_ / "Contents" / "Info.plist");
    plist << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (auto& [key, value] : keys)
      plist << "<key>" << key << "</key><string>" << value << "</string>\n";
    plist << "</dict>\n</plist>\n";
    plist.close();
    // An executable for the login item to point at.
    std::filesystem::copy_file("/bin/true", bundlePath_ / "Contents" / "MacOS" / "app");
    bundle_ = std::make_unique<Bundle>(bundlePath_);
    defaults_ = std::make_unique<NSUserDefaults>(root_ / "config" / "defaults.plist");
    loginItem_ = std::make_unique<SMAppService>(root_ / "config" / "autostart" / "app.desktop",
                                                bundlePath_ / "Contents" / "MacOS" / "app",
                                                "Lumivale Quick Look");
    setenv("FAKE_TOOL_LOG", toolLog().c_str(), 1);
    std::ofstream(toolLog()).flush();
  }
  ~TestApp() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  AppContext context() { return {*bundle_, *defaults_, *loginItem_}; }
  const Bundle& bundle() const { return *bundle_; }
  NSUserDefaults& defaults() { return *defaults_; }
  SMAppService& loginItem() { return *loginItem_; }
  const std::filesystem::path& root() const { return root_; }
  const std::filesystem::path& bundlePath() const { return bundlePath_; }
  std::string tool(const char* name) const { return (root_ / "tools" / name).string(); }
  std::filesystem::path toolLog() const { return root_ / "tools.log"; }
  std::vector<std::string> toolLines() const { return readLines(toolLog()); }

  // Waits until `count` tool runs are logged and the main queue had time to report back.
  bool waitForToolRuns(std::size_t count) {
    const bool done = spinUntil([&] { return toolLines().size() >= count; });
    spinFor(std::chrono::milliseconds(300));
    return done;
  }

  std::vector<std::string> expectedRegistration() const {
    return {"lsregister -f -R -trusted " + bundlePath_.string(),
            "pluginkit -e ignore -i org.example.sqlite",
            "pluginkit -e use -i com.lumivale.quicklook.markdown",
            "pluginkit -e use -i com.lumivale.quicklook.notebook",
            "pluginkit -e use -i com.lumivale.quicklook.tabular",
            "qlmanage -r",
            "qlmanage -r cache"};
  }

private:
  std::filesystem::path root_;
  std::filesystem::path bundlePath_;
  std::unique_ptr<Bundle> bundle_;
  std::unique_ptr<NSUserDefaults> defaults_;
  std::unique_ptr<SMAppService> loginItem_;
};

// Sets or removes an environment variable for the life of the object.
class ScopedEnvironment {
public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name))
      old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnvironment() {
    if (old_)
      setenv(name_.c_str(), old_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

private:
  std::string name_;
  std::optional<std::string> old_;
};

} // namespace apptest
