#include "PlugInKit/PlugInListing.h"

#include <algorithm>

std::vector<PlugIn> matchingPlugIns(const RegistryState& state, const PlugInQuery& query) {
  std::vector<PlugIn> matches;
  for (const PlugIn& plugIn : state.plugIns)
    if ((!query.extensionPoint || plugIn.extensionPoint == *query.extensionPoint) &&
        (!query.identifier || plugIn.identifier == *query.identifier))
      matches.push_back(plugIn);
  std::stable_sort(matches.begin(), matches.end(), [](const PlugIn& a, const PlugIn& b) {
    return a.identifier != b.identifier ? a.identifier < b.identifier : a.path < b.path;
  });
  return matches;
}

std::string listingLine(const PlugIn& plugIn, Election election, bool verbose) {
  std::string line(1, electionFlag(election));
  line += "    ";
  line += plugIn.identifier;
  line += '(' + plugIn.version + ')';
  if (verbose) {
    line += '\t';
    line += plugIn.path.native();
  }
  return line;
}

std::string listing(const RegistryState& state, const PlugInQuery& query, bool verbose) {
  std::string out;
  for (const PlugIn& plugIn : matchingPlugIns(state, query))
    out += listingLine(plugIn, state.electionFor(plugIn.identifier), verbose) + "\n";
  return out;
}
