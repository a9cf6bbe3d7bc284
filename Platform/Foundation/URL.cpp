#include "Foundation/URL.h"

#include <vector>

URL URL::fileURLWithPath(std::string path) {
  return URL(std::move(path));
}

URL URL::fileURLWithPath(std::string_view path, const URL& relativeTo) {
  if (!path.empty() && path.front() == '/')
    return URL(std::string(path));
  std::string joined = relativeTo.path_;
  if (joined.empty())
    return URL(std::string(path));
  if (joined.back() != '/')
    joined += '/';
  joined += path;
  return URL(std::move(joined));
}

std::string URL::lastPathComponent() const {
  std::string_view p = path_;
  while (p.size() > 1 && p.back() == '/')
    p.remove_suffix(1);
  if (p == "/")
    return "/";
  auto slash = p.rfind('/');
  return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

std::string URL::pathExtension() const {
  std::string name = lastPathComponent();
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || name == "/")
    return {};
  return name.substr(dot + 1);
}

URL URL::deletingLastPathComponent() const {
  std::string_view p = path_;
  while (p.size() > 1 && p.back() == '/')
    p.remove_suffix(1);
  auto slash = p.rfind('/');
  if (slash == std::string_view::npos)
    return URL(std::string("./"));
  if (slash == 0)
    return URL(std::string("/"));
  return URL(std::string(p.substr(0, slash + 1)));
}

URL URL::deletingPathExtension() const {
  std::string ext = pathExtension();
  if (ext.empty())
    return *this;
  std::string_view p = path_;
  while (p.size() > 1 && p.back() == '/')
    p.remove_suffix(1);
  return URL(std::string(p.substr(0, p.size() - ext.size() - 1)));
}

URL URL::appendingPathComponent(std::string_view component) const {
  while (!component.empty() && component.front() == '/')
    component.remove_prefix(1);
  return fileURLWithPath(component, *this);
}

URL URL::standardized() const {
  const bool absolute = !path_.empty() && path_.front() == '/';
  const bool directory = !path_.empty() && path_.back() == '/';
  std::vector<std::string_view> parts;
  std::string_view rest = path_;
  while (!rest.empty()) {
    auto slash = rest.find('/');
    std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".")
      continue;
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..")
        parts.pop_back();
      else if (!absolute)
        parts.push_back(part);
      continue;
    }
    parts.push_back(part);
  }
  std::string out = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i)
      out += '/';
    out += parts[i];
  }
  if (directory && !parts.empty())
    out += '/';
  if (out.empty())
    out.push_back('.');
  return URL(std::move(out));
}

std::string URL::absoluteString() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "file://";
  for (unsigned char c : path_) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}
