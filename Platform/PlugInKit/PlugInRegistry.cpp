#include "PlugInKit/PlugInRegistry.h"

#include "PlugInKit/RegistryFile.h"

#include <algorithm>
#include <boost/json.hpp>
#include <stdexcept>

namespace json = boost::json;

namespace {

json::object encodePlugIn(const PlugIn& plugIn) {
  json::array types;
  for (const std::string& type : plugIn.supportedContentTypes)
    types.emplace_back(type);
  return {{"identifier", plugIn.identifier},
          {"version", plugIn.version},
          {"extensionPoint", plugIn.extensionPoint},
          {"path", RegistryFile::encodePath(plugIn.path)},
          {"executable", RegistryFile::encodePath(plugIn.executable)},
          {"supportedContentTypes", std::move(types)},
          {"container", RegistryFile::encodePath(plugIn.container)}};
}

PlugIn decodePlugIn(const json::value& value) {
  if (!value.is_object())
    throw std::runtime_error("a plug-in record is not an object");
  const json::object& object = value.as_object();
  using namespace RegistryFile;
  return {stringMember(object, "identifier"),
          stringMember(object, "version"),
          stringMember(object, "extensionPoint"),
          decodePath(stringMember(object, "path")),
          decodePath(stringMember(object, "executable")),
          stringsMember(object, "supportedContentTypes"),
          decodePath(stringMember(object, "container"))};
}

} // namespace

Election RegistryState::electionFor(std::string_view identifier) const {
  auto found = elections.find(identifier);
  return found == elections.end() ? Election::automatic : found->second;
}

bool RegistryState::hasPlugIn(std::string_view identifier) const {
  return std::any_of(plugIns.begin(), plugIns.end(),
                     [&](const PlugIn& plugIn) { return plugIn.identifier == identifier; });
}

PlugInRegistry::PlugInRegistry(RegistryLocation location) : location_(std::move(location)) {}

RegistryState PlugInRegistry::read(bool lockHeld) {
  RegistryState state;
  RegistryFile::load(location_, location_.plugInsFile(), "plug-in registry", lockHeld, warnings_,
                     [&](const json::object& document) {
                       state.plugIns.clear();
                       try {
                         const json::value* list = document.if_contains("plugins");
                         if (!list || !list->is_array())
                           throw std::runtime_error("it has no list of plug-ins");
                         for (const json::value& item : list->as_array())
                           state.plugIns.push_back(decodePlugIn(item));
                       } catch (...) {
                         state.plugIns.clear();
                         throw;
                       }
                     });
  RegistryFile::load(location_, location_.electionsFile(), "plug-in elections file", lockHeld,
                     warnings_, [&](const json::object& document) {
                       state.elections.clear();
                       try {
                         const json::value* map = document.if_contains("elections");
                         if (!map || !map->is_object())
                           throw std::runtime_error("it has no table of elections");
                         for (const auto& member : map->as_object()) {
                           const json::string* name = member.value().if_string();
                           const std::optional<Election> election =
                               name ? electionNamed(std::string_view(*name)) : std::nullopt;
                           if (!election || *election == Election::automatic)
                             throw std::runtime_error("the election for " +
                                                      std::string(member.key()) +
                                                      " is neither use nor ignore");
                           state.elections.emplace(std::string(member.key()), *election);
                         }
                       } catch (...) {
                         state.elections.clear();
                         throw;
                       }
                     });
  return state;
}

void PlugInRegistry::write(const RegistryLock&, const RegistryState& before,
                           const RegistryState& after) {
  if (after.plugIns != before.plugIns) {
    json::array list;
    for (const PlugIn& plugIn : after.plugIns)
      list.emplace_back(encodePlugIn(plugIn));
    RegistryFile::save(location_.plugInsFile(), {{"plugins", std::move(list)}});
  }
  if (after.elections != before.elections) {
    json::object map;
    for (const auto& [identifier, election] : after.elections)
      if (election != Election::automatic)
        map[identifier] = electionName(election);
    RegistryFile::save(location_.electionsFile(), {{"elections", std::move(map)}});
  }
}

bool PlugInRegistry::elect(std::string_view identifier, Election election) {
  RegistryLock lock(location_);
  const RegistryState before = read(true);
  if (!before.hasPlugIn(identifier))
    return false;
  RegistryState after = before;
  if (election == Election::automatic)
    after.elections.erase(std::string(identifier));
  else
    after.elections[std::string(identifier)] = election;
  write(lock, before, after);
  return true;
}
