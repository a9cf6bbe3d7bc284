// Helpers of the updater tests: a Qt application on the offscreen platform, temporary folders,
// .tar.gz archives built entry by entry, application bundles, a scripted user driver and a
// loopback HTTP server.
#pragma once

#include "SoftwareUpdate/SPUUserDriver.h"

#include <QApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <archive.h>
#include <archive_entry.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace sutest {

namespace fs = std::filesystem;

inline QApplication& application() {
  static int argc = 1;
  static char name[] = "SoftwareUpdateTests";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Never destroyed: tearing Qt's GUI down from static destructors crashes at exit.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Runs the event loop until `done` holds or `timeout` passes; returns `done()`.
inline bool runUntil(const std::function<bool()>& done,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  application();
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done() && std::chrono::steady_clock::now() < deadline)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

class TemporaryFolder {
public:
  TemporaryFolder() {
    static std::atomic<unsigned> counter{0};
    path_ = fs::temp_directory_path() / ("lumivale-su-" + std::to_string(getpid()) + "-" +
                                         std::to_string(counter.fetch_add(1)));
    fs::create_directories(path_);
  }
  ~TemporaryFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const fs::path& path() const { return path_; }

private:
  fs::path path_;
};

inline void writeFile(const fs::path& file, const std::string& bytes, mode_t mode = 0644) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  chmod(file.c_str(), mode);
}

inline std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// One entry of a test archive.
struct Entry {
  Entry(std::string path, mode_t type = AE_IFREG, std::string contents = "",
        std::string linkTarget = "", mode_t permissions = 0644)
      : path(std::move(path)), type(type), contents(std::move(contents)),
        linkTarget(std::move(linkTarget)), permissions(permissions) {}
  std::string path;
  mode_t type = AE_IFREG;
  std::string contents;   // regular files
  std::string linkTarget; // symbolic and hard links
  mode_t permissions = 0644;
};

inline std::string makeTarGz(const std::vector<Entry>& entries) {
  std::vector<char> buffer(16 * 1024 * 1024);
  size_t used = 0;
  archive* writer = archive_write_new();
  archive_write_set_format_pax_restricted(writer);
  archive_write_add_filter_gzip(writer);
  archive_write_open_memory(writer, buffer.data(), buffer.size(), &used);
  for (const Entry& e : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, e.path.c_str());
    archive_entry_set_filetype(entry, e.type);
    archive_entry_set_perm(entry, e.permissions);
    if (e.type == AE_IFREG)
      archive_entry_set_size(entry, static_cast<la_int64_t>(e.contents.size()));
    if (e.type == AE_IFLNK)
      archive_entry_set_symlink(entry, e.linkTarget.c_str());
    if (e.type == AE_IFCHR || e.type == AE_IFBLK)
      archive_entry_set_rdev(entry, makedev(1, 3));
    if (!e.linkTarget.empty() && e.type == AE_IFREG)
      archive_entry_set_hardlink(entry, e.linkTarget.c_str()), archive_entry_set_size(entry, 0);
    archive_write_header(writer, entry);
    if (e.type == AE_IFREG && e.linkTarget.empty())
      archive_write_data(writer, e.contents.data(), e.contents.size());
    archive_entry_free(entry);
  }
  archive_write_close(writer);
  archive_write_free(writer);
  return std::string(buffer.data(), used);
}

inline std::string infoPlist(const std::string& version,
                             const std::string& identifier = "com.lumivale.quicklook") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><dict>"
         "<key>CFBundleIdentifier</key><string>" +
         identifier +
         "</string>"
         "<key>CFBundleExecutable</key><string>App</string>"
         "<key>CFBundleVersion</key><string>" +
         version + "</string></dict></plist>\n";
}

// The entries of an application bundle "<name>" whose executable Contents/MacOS/App is
// `script`.
inline std::vector<Entry> bundleEntries(const std::string& name, const std::string& version,
                                        const std::string& script,
                                        const std::string& identifier = "com.lumivale.quicklook") {
  return {
      {name, AE_IFDIR, "", "", 0755},
      {name + "/Contents", AE_IFDIR, "", "", 0755},
      {name + "/Contents/Info.plist", AE_IFREG, infoPlist(version, identifier)},
      {name + "/Contents/MacOS", AE_IFDIR, "", "", 0755},
      {name + "/Contents/MacOS/App", AE_IFREG, script, "", 0755},
      {name + "/Contents/Resources", AE_IFDIR, "", "", 0755},
      {name + "/Contents/Resources/version.txt", AE_IFREG, version + "\n"},
  };
}

// Writes the same bundle on disk.
inline void writeBundle(const fs::path& bundle, const std::string& version,
                        const std::string& script) {
  writeFile(bundle / "Contents" / "Info.plist", infoPlist(version));
  writeFile(bundle / "Contents" / "MacOS" / "App", script, 0755);
  writeFile(bundle / "Contents" / "Resources" / "version.txt", version + "\n");
}

// Every path under `root` with the contents of its files (links as "-> target").
inline std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (auto& entry : fs::recursive_directory_iterator(root)) {
    std::string key = entry.path().lexically_relative(root).string();
    if (entry.is_symlink())
      tree[key] = "-> " + fs::read_symlink(entry.path()).string();
    else if (entry.is_regular_file())
      tree[key] = readFile(entry.path());
    else
      tree[key] = "/";
  }
  return tree;
}

// A user driver that records what it is shown and answers at once.
class ScriptedUserDriver : public SPUUserDriver {
public:
  SPUUserUpdateChoice choice = SPUUserUpdateChoice::Install;
  std::vector<std::string> events;
  std::optional<SUAppcastItem> offered;
  std::string error;
  bool dismissed = false;
  bool cancelDownload = false;

  void showUserInitiatedUpdateCheck(std::function<void()>) override {
    events.push_back("checking");
  }
  void showUpdateFound(const SUAppcastItem& item, bool userInitiated,
                       std::function<void(SPUUserUpdateChoice)> reply) override {
    events.push_back(userInitiated ? "found (asked)" : "found");
    offered = item;
    reply(choice);
  }
  void showUpdateNotFound(std::function<void()> acknowledge) override {
    events.push_back("up to date");
    acknowledge();
  }
  void showUpdaterError(const std::string& message, std::function<void()> acknowledge) override {
    events.push_back("error");
    error = message;
    acknowledge();
  }
  void showDownloadProgress(std::uint64_t, std::uint64_t, std::function<void()> cancel) override {
    if (events.empty() || events.back() != "downloading")
      events.push_back("downloading");
    if (cancelDownload)
      cancel();
  }
  void showExtractingUpdate() override { events.push_back("extracting"); }
  void showReadyToRelaunch() override { events.push_back("relaunching"); }
  void dismissUpdateInstallation() override { dismissed = true; }
};

// Serves fixed bodies by path on 127.0.0.1 (404 for anything else). One request per connection.
class LoopbackServer {
public:
  LoopbackServer() {
    application();
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        auto request = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
          request->append(socket->readAll());
          if (request->size() > 65536) {
            socket->abort();
            return;
          }
          int end = request->indexOf("\r\n\r\n");
          if (end < 0)
            return;
          QList<QByteArray> line = request->left(request->indexOf("\r\n")).split(' ');
          std::string path = line.size() > 1 ? line[1].toStdString() : "";
          ++requests;
          auto it = bodies.find(path);
          QByteArray body =
              it == bodies.end() ? QByteArray("not found") : QByteArray::fromStdString(it->second);
          QByteArray head =
              it == bodies.end() ? "HTTP/1.1 404 Not Found\r\n" : "HTTP/1.1 200 OK\r\n";
          head += "Content-Length: " + QByteArray::number(body.size()) +
                  "\r\nConnection: close\r\n\r\n";
          socket->write(head + body);
          socket->disconnectFromHost();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + path;
  }

  std::map<std::string, std::string> bodies;
  int requests = 0;

private:
  QTcpServer server_;
};

} // namespace sutest
