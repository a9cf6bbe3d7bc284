#include "LaunchServices/DesktopIntegration.h"

#include "Foundation/UTF8.h"
#include "UniformTypeIdentifiers/UTType.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
namespace fs = std::filesystem;

namespace {

// A value of a desktop entry string key: \s \n \t \r \\ escapes (the key-file escapes).
std::string escapeValue(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\r':
      out += "\\r";
      break;
    default:
      out += c;
    }
  }
  return out;
}

// One Exec argument, always quoted: inside the quotes ", `, $ and \ take a backslash, and a
// literal % is written %% (field codes start with %).
std::string execArgument(std::string_view argument) {
  std::string out = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\')
      out += '\\';
    if (c == '%')
      out += '%';
    out += c;
  }
  return out + "\"";
}

std::string escapeXML(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

// Runs `argv` with standard output and error on one pipe; returns the exit status (-1 when it
// could not be started, with errno's text in `output`).
int run(const std::vector<std::string>& argv, std::string& output) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    output = "cannot create a pipe";
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int error = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (error != 0) {
    ::close(fds[0]);
    errno = error;
    return -1;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n > 0)
      output.append(buffer, static_cast<std::size_t>(n));
    else if (n == 0 || errno != EINTR)
      break;
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

std::string DesktopIntegration::desktopEntryText(const std::string& name,
                                                 const fs::path& previewTool,
                                                 const std::vector<std::string>& mimeTypes) {
  if (!isValidUTF8(previewTool.native()))
    throw std::invalid_argument("the preview tool's path " + previewTool.string() +
                                " is not UTF-8, so no desktop entry can name it");
  std::string mimeList;
  for (const std::string& type : mimeTypes)
    mimeList += type + ";";
  std::string text = "[Desktop Entry]\n"
                     "Type=Application\n"
                     "Version=1.0\n"
                     "Name=" +
                     escapeValue(name) +
                     "\n"
                     "GenericName=Document Preview\n"
                     "Comment=Preview Markdown documents, Mermaid diagrams and Jupyter notebooks\n"
                     "Icon=x-office-document\n"
                     "TryExec=" +
                     escapeValue(previewTool.native()) +
                     "\n"
                     "Exec=" +
                     escapeValue(execArgument(previewTool.native())) +
                     " -p %F\n"
                     "Terminal=false\n"
                     "NoDisplay=true\n"
                     "StartupNotify=false\n"
                     "Categories=Office;Viewer;\n";
  if (!mimeList.empty())
    text += "MimeType=" + mimeList + "\n";
  return text;
}

std::string DesktopIntegration::mimeTypeFor(const std::string& contentType,
                                            const std::vector<TypeDeclaration>& declarations) {
  for (const TypeDeclaration& declaration : declarations)
    if (declaration.identifier == contentType && !declaration.mimeTypes.empty())
      return declaration.mimeTypes.front();
  if (std::optional<UTType> type = UTType::fromIdentifier(contentType))
    return type->preferredMIMEType().value_or("");
  return {};
}

std::set<std::string> DesktopIntegration::systemMIMETypes(const std::vector<fs::path>& dataDirs) {
  std::set<std::string> known;
  for (const fs::path& folder : dataDirs) {
    for (const char* file : {"types", "aliases"}) {
      std::ifstream in(folder / "mime" / file);
      std::string line;
      while (std::getline(in, line)) {
        // "aliases" lines are "alias canonical": both names are known.
        std::size_t start = 0;
        while (start < line.size()) {
          const std::size_t blank = line.find(' ', start);
          const std::string word = line.substr(start, blank - start);
          if (!word.empty())
            known.insert(word);
          if (blank == std::string::npos)
            break;
          start = blank + 1;
        }
      }
    }
  }
  return known;
}

std::string DesktopIntegration::mimePackageText(const std::vector<TypeDeclaration>& declarations,
                                                const std::set<std::string>& known) {
  std::string body;
  std::set<std::string> written;
  for (const TypeDeclaration& declaration : declarations) {
    if (declaration.mimeTypes.empty() || declaration.extensions.empty())
      continue;
    const std::string& primary = declaration.mimeTypes.front();
    const bool isKnown = std::any_of(declaration.mimeTypes.begin(), declaration.mimeTypes.end(),
                                     [&](const std::string& type) { return known.count(type); });
    if (isKnown || !written.insert(primary).second)
      continue;
    body += "  <mime-type type=\"" + escapeXML(primary) + "\">\n";
    if (!declaration.description.empty())
      body += "    <comment>" + escapeXML(declaration.description) + "</comment>\n";
    for (const std::string& parent : declaration.conformsTo)
      if (const std::string parentType = mimeTypeFor(parent, declarations); !parentType.empty())
        body += "    <sub-class-of type=\"" + escapeXML(parentType) + "\"/>\n";
    for (std::size_t i = 1; i < declaration.mimeTypes.size(); ++i)
      body += "    <alias type=\"" + escapeXML(declaration.mimeTypes[i]) + "\"/>\n";
    for (const std::string& extension : declaration.extensions)
      body += "    <glob pattern=\"*." + escapeXML(extension) + "\"/>\n";
    body += "  </mime-type>\n";
  }
  if (body.empty())
    return {};
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n" +
         body + "</mime-info>\n";
}

std::string DesktopIntegration::desktopFileID(const std::string& bundleIdentifier) {
  std::string id = bundleIdentifier;
  for (char& c : id)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
          c == '_' || c == '-'))
      c = '_';
  return id;
}

void DesktopIntegration::updateDatabases(const fs::path& dataHome,
                                         std::vector<std::string>& warnings) {
  const std::pair<const char*, fs::path> updates[] = {
      {"update-mime-database", dataHome / "mime"},
      {"update-desktop-database", dataHome / "applications"}};
  for (const auto& [tool, folder] : updates) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
      continue; // nothing was ever installed there
    std::string output;
    const int status = run({tool, folder.string()}, output);
    if (status == -1) {
      warnings.push_back(std::string(tool) +
                         " is not installed; the desktop sees the change after its next update");
    } else if (status != 0) {
      throw std::runtime_error(std::string(tool) + " " + folder.string() + " exited with status " +
                               std::to_string(status) + (output.empty() ? "" : ": " + output));
    }
  }
}
