// PlugInListing: the registry listing of `pluginkit -m`, one line per matching plug-in: the
// election flag ('+', '-', or a blank for the default), four blanks, the identifier with its
// version in parentheses ("+    com.lumivale.quicklook.markdown(1.0)"); verbose lines add a
// tab and the plug-in's bundle path.
#pragma once

#include "PlugInKit/PlugInRegistry.h"

#include <optional>
#include <string>
#include <vector>

struct PlugInQuery {
  std::optional<std::string> extensionPoint; // -p
  std::optional<std::string> identifier;     // -i
};

// The registered plug-ins that match `query`, ordered by identifier, then path.
std::vector<PlugIn> matchingPlugIns(const RegistryState& state, const PlugInQuery& query);

std::string listingLine(const PlugIn& plugIn, Election election, bool verbose);

// Every matching line, each ending with a line feed.
std::string listing(const RegistryState& state, const PlugInQuery& query, bool verbose);
