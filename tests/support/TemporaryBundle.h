// TemporaryBundle: a bundle directory under the system's temporary folder, filled by a test with
// resource files and removed again when the object goes away.
#pragma once

#include "Foundation/Bundle.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

class TemporaryBundle {
public:
  TemporaryBundle() : root_(makeRoot()) {
    std::filesystem::create_directories(root_ / "Contents" / "Resources");
  }
  ~TemporaryBundle() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  TemporaryBundle(const TemporaryBundle&) = delete;
  TemporaryBundle& operator=(const TemporaryBundle&) = delete;

  const std::filesystem::path& path() const { return root_; }

  // Writes Contents/Resources/<relativePath> (folders created as needed); returns its path.
  std::filesystem::path writeResource(std::string_view relativePath, std::string_view contents) {
    std::filesystem::path file =
        root_ / "Contents" / "Resources" / std::filesystem::path(relativePath);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return file;
  }

  // A fresh Bundle object for this directory (each has its own identity).
  std::unique_ptr<Bundle> open() const { return std::make_unique<Bundle>(root_); }

private:
  static std::filesystem::path makeRoot() {
    static std::atomic<unsigned> counter{0};
    return std::filesystem::temp_directory_path() /
           ("lumivale-test-" + std::to_string(::getpid()) + "-" +
            std::to_string(counter.fetch_add(1)) + ".appex");
  }
  std::filesystem::path root_;
};
