#include "ServiceManagement/DesktopEntry.h"

namespace DesktopEntry {

namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

std::string unescapeString(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[++i]) {
    case 's':
      out += ' ';
      break;
    case 'n':
      out += '\n';
      break;
    case 't':
      out += '\t';
      break;
    case 'r':
      out += '\r';
      break;
    case '\\':
      out += '\\';
      break;
    default:
      out += '\\';
      out += value[i];
      break;
    }
  }
  return out;
}

} // namespace

std::map<std::string, std::string> readMainGroup(std::string_view text) {
  std::map<std::string, std::string> keys;
  bool inMain = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos)
      end = text.size();
    std::string_view line = trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == '#')
      continue;
    if (line.front() == '[') {
      inMain = line == "[Desktop Entry]";
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inMain || equals == std::string_view::npos)
      continue;
    // A key written twice takes its last value, as the desktop's own parser does.
    keys[std::string(trim(line.substr(0, equals)))] = unescapeString(trim(line.substr(equals + 1)));
  }
  return keys;
}

std::string quoteExecArgument(std::string_view argument) {
  static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  bool quote = argument.empty();
  for (char c : argument)
    quote = quote || kReserved.find(c) != std::string_view::npos;
  std::string exec;
  if (quote)
    exec += '"';
  for (char c : argument) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
      exec += '\\';
    if (c == '%')
      exec += '%';
    exec += c;
  }
  if (quote)
    exec += '"';
  // The string escaping of the file format comes on top of the Exec quoting.
  std::string escaped;
  for (char c : exec) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '\n')
      escaped += "\\n";
    else if (c == '\t')
      escaped += "\\t";
    else
      escaped += c;
  }
  return escaped;
}

std::optional<std::vector<std::string>> splitExec(std::string_view exec) {
  // `exec` has had the string escapes undone already (readMainGroup).
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (c == '"') {
      inArgument = true;
      for (++i;; ++i) {
        if (i >= exec.size())
          return std::nullopt;
        if (exec[i] == '"')
          break;
        if (exec[i] == '\\' && i + 1 < exec.size())
          ++i;
        if (exec[i] == '%' && i + 1 < exec.size() && exec[i + 1] == '%')
          ++i;
        current += exec[i];
      }
      continue;
    }
    if (c == ' ' || c == '\t') {
      if (inArgument)
        args.push_back(std::move(current));
      current.clear();
      inArgument = false;
      continue;
    }
    if (c == '%' && i + 1 < exec.size()) {
      if (exec[i + 1] == '%') {
        current += '%';
        inArgument = true;
      }
      ++i; // a field code stands for nothing here
      continue;
    }
    current += c;
    inArgument = true;
  }
  if (inArgument)
    args.push_back(std::move(current));
  return args;
}

} // namespace DesktopEntry
