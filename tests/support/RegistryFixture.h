// RegistryFixture: a throw-away home for the registration databases (data, configuration and
// cache folders under one temporary root), with helpers that read and write its files and build
// application bundles carrying preview extensions.
#pragma once

#include "PlugInKit/PlugIn.h"
#include "PlugInKit/RegistryLocation.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

class RegistryFixture {
public:
  RegistryFixture() : root_(makeRoot()) { std::filesystem::create_directories(root_); }
  ~RegistryFixture() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  RegistryFixture(const RegistryFixture&) = delete;
  RegistryFixture& operator=(const RegistryFixture&) = delete;

  const std::filesystem::path& root() const { return root_; }
  RegistryLocation location() const {
    return RegistryLocation(root_ / "data" / "lumivale", root_ / "config" / "lumivale",
                            root_ / "cache" / "lumivale");
  }

  static std::optional<std::string> read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
      return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  static void write(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  }

  // A plug-in record as registration would make it.
  static PlugIn plugIn(const std::string& identifier, const std::string& version = "1.0",
                       std::vector<std::string> types = {"net.daringfireball.markdown"},
                       const std::string& point = "com.apple.quicklook.preview") {
    const std::filesystem::path app = "/Applications/Test.app";
    const std::filesystem::path appex = app / "Contents" / "PlugIns" / (identifier + ".appex");
    return {identifier,       version, point, appex, appex / "Contents" / "MacOS" / "X",
            std::move(types), app};
  }

  struct ExtensionLayout {
    std::string name; // folder stem, "MarkdownLens"
    std::string identifier;
    std::vector<std::string> types;
    bool executable = true;
  };

  // Writes an application bundle at root/<relativePath> whose Info.plist declares the Mermaid
  // type (with its MIME types) and Markdown, and whose PlugIns hold `extensions`.
  std::filesystem::path makeApp(const std::string& relativePath,
                                const std::vector<ExtensionLayout>& extensions,
                                const std::string& extraKeys = "") const {
    const std::filesystem::path app = root_ / relativePath;
    write(app / "Contents" / "Info.plist",
          plist("<key>CFBundleIdentifier</key><string>com.example.viewer</string>"
                "<key>CFBundleName</key><string>Example Viewer</string>"
                "<key>CFBundleExecutable</key><string>Example Viewer</string>"
                "<key>CFBundlePackageType</key><string>APPL</string>"
                "<key>CFBundleShortVersionString</key><string>2.1</string>"
                "<key>CFBundleVersion</key><string>7</string>" +
                extraKeys + kTypes));
    for (const ExtensionLayout& extension : extensions) {
      const std::filesystem::path appex =
          app / "Contents" / "PlugIns" / (extension.name + ".appex") / "Contents";
      std::string types;
      for (const std::string& type : extension.types)
        types += "<string>" + type + "</string>";
      write(appex / "Info.plist",
            plist("<key>CFBundleIdentifier</key><string>" + extension.identifier +
                  "</string><key>CFBundleExecutable</key><string>" + extension.name +
                  "</string><key>CFBundleShortVersionString</key><string>2.1</string>"
                  "<key>NSExtension</key><dict><key>NSExtensionPointIdentifier</key>"
                  "<string>com.apple.quicklook.preview</string><key>NSExtensionAttributes</key>"
                  "<dict><key>QLSupportedContentTypes</key><array>" +
                  types + "</array></dict></dict>"));
      if (extension.executable) {
        write(appex / "MacOS" / extension.name, "#!/bin/sh\nexit 0\n");
        ::chmod((appex / "MacOS" / extension.name).c_str(), 0755);
      }
    }
    return app;
  }

  static std::string plist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + body +
           "</dict></plist>\n";
  }

private:
  static constexpr const char* kTypes =
      "<key>UTImportedTypeDeclarations</key><array>"
      "<dict><key>UTTypeIdentifier</key><string>com.example.mermaid</string>"
      "<key>UTTypeDescription</key><string>Mermaid &amp; friends</string>"
      "<key>UTTypeConformsTo</key><array><string>public.plain-text</string></array>"
      "<key>UTTypeTagSpecification</key><dict><key>public.filename-extension</key>"
      "<array><string>mermaid</string><string>mmd</string></array>"
      "<key>public.mime-type</key><array><string>text/vnd.example-mermaid</string>"
      "<string>application/vnd.example-mermaid</string></array></dict></dict>"
      "<dict><key>UTTypeIdentifier</key><string>net.daringfireball.markdown</string>"
      "<key>UTTypeTagSpecification</key><dict><key>public.filename-extension</key>"
      "<array><string>md</string></array><key>public.mime-type</key>"
      "<array><string>text/markdown</string></array></dict></dict></array>";

  static std::filesystem::path makeRoot() {
    static std::atomic<unsigned> counter{0};
    return std::filesystem::temp_directory_path() /
           ("lumivale-registry-" + std::to_string(::getpid()) + "-" +
            std::to_string(counter.fetch_add(1)));
  }
  std::filesystem::path root_;
};
