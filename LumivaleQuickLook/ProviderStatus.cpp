#include "ProviderStatus.h"

#include "ExtensionRegistration.h"

namespace {

// Blanks and tabs (and the no-break space), without line breaks.
std::string_view trimBlanks(std::string_view text) {
  for (;;) {
    if (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
      text.remove_prefix(1);
    else if (text.starts_with("\xC2\xA0"))
      text.remove_prefix(2);
    else
      break;
  }
  for (;;) {
    if (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
      text.remove_suffix(1);
    else if (text.ends_with("\xC2\xA0"))
      text.remove_suffix(2);
    else
      break;
  }
  return text;
}

} // namespace

std::string providerStatusLine(std::string_view displayName, std::string_view identifier,
                               std::string_view listing) {
  std::string_view found;
  bool matched = false;
  std::size_t start = 0;
  while (start < listing.size() && !matched) {
    std::size_t end = listing.find('\n', start);
    if (end == std::string_view::npos)
      end = listing.size();
    const std::string_view line = listing.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && !identifier.empty() && line.find(identifier) != std::string_view::npos) {
      found = line;
      matched = true;
    }
  }
  std::string text(displayName);
  if (!matched)
    return text + ": Not registered";
  const std::string_view line = trimBlanks(found);
  text += line.starts_with('+') ? ": Enabled" : ": Disabled";
  const std::string opening = std::string(identifier) + "(";
  if (const std::size_t at = line.find(opening); at != std::string_view::npos) {
    const std::size_t from = at + opening.size();
    if (const std::size_t close = line.find(')', from); close != std::string_view::npos) {
      text += ' ';
      text += line.substr(from, close - from);
    }
  }
  return text;
}

std::vector<std::string> providerStatusLines(const std::string& plugInKitPath) {
  std::string listing;
  try {
    listing = captureOutput(plugInKitPath, {"-m", "-p", "com.apple.quicklook.preview"});
  } catch (...) {
    // A tool that cannot be started lists nothing: every extension reads "Not registered".
  }
  std::vector<std::string> lines;
  for (const ExtensionProvider& provider : kExtensionProviders)
    lines.push_back(providerStatusLine(provider.displayName, provider.identifier, listing));
  return lines;
}
