// ProviderStatus: the status window's extension lines, read from the plug-in registry's
// listing of the Quick Look preview extension point.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

struct ExtensionProvider {
  std::string_view displayName;
  std::string_view identifier;
};

inline constexpr std::array<ExtensionProvider, 3> kExtensionProviders = {{
    {"Markdown", "com.lumivale.quicklook.markdown"},
    {"Notebook", "com.lumivale.quicklook.notebook"},
    {"Tabular", "com.lumivale.quicklook.tabular"},
}};

// "<name>: Enabled <version>", "<name>: Disabled <version>" (no version: no suffix) from the
// first listing line that holds `identifier`, or "<name>: Not registered".
std::string providerStatusLine(std::string_view displayName, std::string_view identifier,
                               std::string_view listing);

// The three lines from `pluginkit -m -p com.apple.quicklook.preview` run with the tool at
// `plugInKitPath` (a tool that cannot be started lists nothing). Blocking.
std::vector<std::string> providerStatusLines(const std::string& plugInKitPath);
