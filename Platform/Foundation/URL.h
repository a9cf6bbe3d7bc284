// URL: a file URL, the platform's way of naming documents, directories and resources.
// Only the file scheme is modelled; the path is kept as an absolute or relative POSIX path.
#pragma once

#include <string>
#include <string_view>

class URL {
public:
  URL() = default;

  // A file URL for a path. Relative paths stay relative until resolved against a base.
  static URL fileURLWithPath(std::string path);
  // A file URL for a path relative to a base directory URL (an absolute path ignores the base).
  static URL fileURLWithPath(std::string_view path, const URL& relativeTo);

  const std::string& path() const { return path_; }
  bool isEmpty() const { return path_.empty(); }

  // The last path component ("notes.md" for /a/notes.md, "/" for the root).
  std::string lastPathComponent() const;
  // The text after the last dot of the last component; empty when there is none, and for a
  // name whose only dot is its first character (".bashrc").
  std::string pathExtension() const;
  URL deletingLastPathComponent() const;
  URL deletingPathExtension() const;
  URL appendingPathComponent(std::string_view component) const;

  // Removes "." components and resolves ".." lexically; ".." above the root stays at the root.
  URL standardized() const;

  // "file://" followed by the percent-encoded path.
  std::string absoluteString() const;

  friend bool operator==(const URL&, const URL&) = default;

private:
  explicit URL(std::string path) : path_(std::move(path)) {}
  std::string path_;
};
