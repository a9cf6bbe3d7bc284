// ImageFolder: a private temporary folder, made once per fuzzing process, that holds a
// document's images of every kind a reference may reach: regular files below, at and above the
// caps, a FIFO, a directory, a link to a device, a link loop, a file outside the folder.
#pragma once

#include "Foundation/URL.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace ImageFolder {

namespace fs = std::filesystem;

// The folder the fuzzed document lives in, with its images; made once per process.
inline const URL& documentFolder() {
  static const URL folder = [] {
    const fs::path root =
        fs::temp_directory_path() / ("lumivale-image-fuzz-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "docs" / "img");
    auto write = [](const fs::path& path, std::size_t size) {
      std::ofstream out(path, std::ios::binary);
      for (std::size_t i = 0; i < size; ++i)
        out.put(static_cast<char>('a' + i % 26));
    };
    const fs::path docs = root / "docs";
    write(docs / "a.png", 10);
    write(docs / "b.gif", 64);
    write(docs / "c.svg", 65);
    write(docs / "big.jpg", 100000);
    write(docs / "sp ace.png", 5);
    write(docs / "\xC3\xBC.png", 7);
    write(docs / "img" / "d.png", 30);
    write(docs / "empty.png", 0);
    write(root / "outside.png", 20);
    write(docs / "huge.png", 4194305); // one byte over the notebook per-image cap
    ::mkfifo((docs / "fifo.png").c_str(), 0600);
    fs::create_directory(docs / "dir.png");
    fs::create_symlink("/dev/zero", docs / "zero.png");
    fs::create_symlink("loop.png", docs / "loop.png");
    fs::create_symlink("a.png", docs / "link.png");
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(fs::temp_directory_path() /
                         ("lumivale-image-fuzz-" + std::to_string(::getpid())),
                     ignored);
    });
    return URL::fileURLWithPath(docs.string());
  }();
  return folder;
}

inline std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace ImageFolder
