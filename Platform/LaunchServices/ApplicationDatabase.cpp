#include "LaunchServices/ApplicationDatabase.h"

#include "PlugInKit/RegistryFile.h"

#include <boost/json.hpp>
#include <stdexcept>

namespace json = boost::json;
using RegistryFile::decodePath;
using RegistryFile::encodePath;
using RegistryFile::stringMember;

std::vector<ApplicationRecord> ApplicationDatabase::read(const RegistryLocation& location,
                                                         bool lockHeld,
                                                         std::vector<std::string>& warnings) {
  std::vector<ApplicationRecord> records;
  RegistryFile::load(location, location.applicationsFile(), "Launch Services database", lockHeld,
                     warnings, [&](const json::object& document) {
                       records.clear();
                       try {
                         const json::value* list = document.if_contains("applications");
                         if (!list || !list->is_array())
                           throw std::runtime_error("it has no list of applications");
                         for (const json::value& item : list->as_array()) {
                           if (!item.is_object())
                             throw std::runtime_error("an application record is not an object");
                           const json::object& object = item.as_object();
                           const json::value* trusted = object.if_contains("trusted");
                           if (!trusted || !trusted->is_bool())
                             throw std::runtime_error("an application record lacks \"trusted\"");
                           records.push_back(
                               {stringMember(object, "identifier"), stringMember(object, "name"),
                                stringMember(object, "version"),
                                stringMember(object, "bundleVersion"),
                                decodePath(stringMember(object, "path")),
                                decodePath(stringMember(object, "executable")), trusted->as_bool(),
                                RegistryFile::stringsMember(object, "mimeTypes"),
                                decodePath(stringMember(object, "desktopEntry")),
                                decodePath(stringMember(object, "mimePackage"))});
                         }
                       } catch (...) {
                         records.clear();
                         throw;
                       }
                     });
  return records;
}

void ApplicationDatabase::write(const RegistryLocation& location, const RegistryLock&,
                                const std::vector<ApplicationRecord>& records) {
  json::array list;
  for (const ApplicationRecord& record : records) {
    json::array mimeTypes;
    for (const std::string& type : record.mimeTypes)
      mimeTypes.emplace_back(type);
    list.emplace_back(json::object{{"identifier", record.identifier},
                                   {"name", record.name},
                                   {"version", record.version},
                                   {"bundleVersion", record.bundleVersion},
                                   {"path", encodePath(record.path)},
                                   {"executable", encodePath(record.executable)},
                                   {"trusted", record.trusted},
                                   {"mimeTypes", std::move(mimeTypes)},
                                   {"desktopEntry", encodePath(record.desktopEntry)},
                                   {"mimePackage", encodePath(record.mimePackage)}});
  }
  RegistryFile::save(location.applicationsFile(), {{"applications", std::move(list)}});
}
