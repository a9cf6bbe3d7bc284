#include "LaunchServices/Registration.h"

#include "Foundation/AtomicWrite.h"
#include "Foundation/XDGBaseDirectories.h"
#include "LaunchServices/BundleScan.h"
#include "LaunchServices/DesktopIntegration.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::optional<std::string> contentsOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Files written in one registration step; restores every earlier state if a later write fails.
class FileChanges {
public:
  // Makes `file` hold `text`, or removes it when `text` is nullopt.
  void set(const fs::path& file, const std::optional<std::string>& text) {
    remember(file);
    if (text)
      writeFileAtomically(file, *text);
    else
      removeFileDurably(file);
  }
  // Keeps the current state of `file` for rollBack before someone else writes it.
  void remember(const fs::path& file) { saved_.emplace_back(file, contentsOf(file)); }
  void rollBack() noexcept {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      try {
        if (it->second)
          writeFileAtomically(it->first, *it->second);
        else
          removeFileDurably(it->first);
      } catch (...) {
        // Best effort: the first failure is the one reported.
      }
    }
    saved_.clear();
  }

private:
  std::vector<std::pair<fs::path, std::optional<std::string>>> saved_;
};

// The MIME types the desktop entry advertises: those of the preview plug-ins' content types.
std::vector<std::string> advertisedMIMETypes(const std::vector<PlugIn>& plugIns,
                                             const std::vector<TypeDeclaration>& declarations) {
  std::vector<std::string> types;
  for (const PlugIn& plugIn : plugIns)
    for (const std::string& contentType : plugIn.supportedContentTypes)
      if (std::string mime = DesktopIntegration::mimeTypeFor(contentType, declarations);
          !mime.empty() && std::find(types.begin(), types.end(), mime) == types.end())
        types.push_back(std::move(mime));
  return types;
}

fs::path absoluteLexically(const fs::path& path) {
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? fs::absolute(path).lexically_normal() : resolved;
}

// Whether another record still uses `file` (copies of one application share desktop files).
bool usedByOthers(const std::vector<ApplicationRecord>& records, const fs::path& file) {
  return !file.empty() &&
         std::any_of(records.begin(), records.end(), [&](const ApplicationRecord& record) {
           return record.desktopEntry == file || record.mimePackage == file;
         });
}

} // namespace

DesktopLocation DesktopLocation::forCurrentUser(fs::path defaultPreviewTool) {
  return {XDGBaseDirectories::dataHome(), XDGBaseDirectories::dataDirs(),
          std::move(defaultPreviewTool), true};
}

Registration::Registration(RegistryLocation registry, DesktopLocation desktop)
    : registry_(registry), desktop_(std::move(desktop)), plugIns_(std::move(registry)) {}

bool Registration::registerBundle(const fs::path& bundle, const RegistrationOptions& options) {
  // Everything is read and checked before anything is written.
  const ScannedApplication app = scanApplicationBundle(bundle, options.recursive);
  const fs::path previewTool =
      app.previewToolPath.empty() ? desktop_.defaultPreviewTool : app.previewToolPath;

  RegistryLock lock(registry_);
  const std::vector<ApplicationRecord> oldRecords =
      ApplicationDatabase::read(registry_, true, warnings_);
  const RegistryState before = plugIns_.read(true);
  for (std::string& warning : plugIns_.takeWarnings())
    warnings_.push_back(std::move(warning));

  RegistryState after = before;
  if (options.recursive) {
    std::erase_if(after.plugIns, [&](const PlugIn& p) { return p.container == app.path; });
    after.plugIns.insert(after.plugIns.end(), app.plugIns.begin(), app.plugIns.end());
    // An extension the bundle no longer carries takes its election with it, so that it starts
    // from the default if it ever comes back.
    std::erase_if(after.elections,
                  [&](const auto& election) { return !after.hasPlugIn(election.first); });
  }
  std::vector<PlugIn> ownPlugIns;
  for (const PlugIn& plugIn : after.plugIns)
    if (plugIn.container == app.path)
      ownPlugIns.push_back(plugIn);

  const std::string fileID = DesktopIntegration::desktopFileID(app.identifier);
  ApplicationRecord record{app.identifier,
                           app.name,
                           app.version,
                           app.bundleVersion,
                           app.path,
                           app.executable,
                           options.trusted,
                           advertisedMIMETypes(ownPlugIns, app.declaredTypes),
                           desktop_.dataHome / "applications" / (fileID + ".desktop"),
                           {}};
  const std::string entryText =
      DesktopIntegration::desktopEntryText(app.name, previewTool, record.mimeTypes);
  // The system's types only: the user's own MIME database already holds what we installed
  // before, which must not count as known to the system.
  std::vector<fs::path> systemDirs = desktop_.dataDirs;
  std::erase_if(systemDirs, [&](const fs::path& dir) {
    std::error_code ec;
    return fs::equivalent(dir, desktop_.dataHome, ec);
  });
  const std::string packageText = DesktopIntegration::mimePackageText(
      app.declaredTypes, DesktopIntegration::systemMIMETypes(systemDirs));
  if (!packageText.empty())
    record.mimePackage = desktop_.dataHome / "mime" / "packages" / (fileID + ".xml");

  std::vector<ApplicationRecord> records = oldRecords;
  auto existing = std::find_if(records.begin(), records.end(),
                               [&](const ApplicationRecord& r) { return r.path == app.path; });
  std::optional<ApplicationRecord> previous;
  if (existing != records.end()) {
    previous = *existing;
    *existing = record;
  } else {
    records.push_back(record);
  }

  const bool unchanged = previous == record && after == before &&
                         contentsOf(record.desktopEntry) == entryText &&
                         (packageText.empty() || contentsOf(record.mimePackage) == packageText);
  if (unchanged && !options.force)
    return false;

  FileChanges changes;
  try {
    // Files this bundle installed earlier but no longer needs go, unless a copy still uses them.
    std::vector<ApplicationRecord> others = records;
    std::erase_if(others, [&](const ApplicationRecord& r) { return r.path == app.path; });
    if (previous && !previous->mimePackage.empty() && previous->mimePackage != record.mimePackage &&
        !usedByOthers(others, previous->mimePackage))
      changes.set(previous->mimePackage, std::nullopt);
    if (previous && previous->desktopEntry != record.desktopEntry &&
        !usedByOthers(others, previous->desktopEntry))
      changes.set(previous->desktopEntry, std::nullopt);
    if (!packageText.empty())
      changes.set(record.mimePackage, packageText);
    changes.set(record.desktopEntry, entryText);
    changes.remember(registry_.plugInsFile());
    changes.remember(registry_.electionsFile());
    plugIns_.write(lock, before, after);
    changes.remember(registry_.applicationsFile());
    ApplicationDatabase::write(registry_, lock, records);
  } catch (...) {
    changes.rollBack();
    throw;
  }
  if (desktop_.runUpdateTools)
    DesktopIntegration::updateDatabases(desktop_.dataHome, warnings_);
  return true;
}

void Registration::unregisterBundle(const fs::path& bundle) {
  const fs::path path = absoluteLexically(bundle);
  RegistryLock lock(registry_);
  std::vector<ApplicationRecord> records = ApplicationDatabase::read(registry_, true, warnings_);
  const RegistryState before = plugIns_.read(true);
  for (std::string& warning : plugIns_.takeWarnings())
    warnings_.push_back(std::move(warning));

  std::vector<ApplicationRecord> removed;
  std::erase_if(records, [&](const ApplicationRecord& r) {
    if (r.path != path)
      return false;
    removed.push_back(r);
    return true;
  });
  RegistryState after = before;
  const bool hadPlugIns =
      std::erase_if(after.plugIns, [&](const PlugIn& p) { return p.container == path; }) > 0;
  if (removed.empty() && !hadPlugIns)
    throw std::runtime_error("The application " + bundle.string() + " is not registered.");
  // Elections belong to plug-ins: those of identifiers no registered plug-in has any more go too.
  std::erase_if(after.elections,
                [&](const auto& election) { return !after.hasPlugIn(election.first); });

  FileChanges changes;
  try {
    for (const ApplicationRecord& record : removed) {
      for (const fs::path& file : {record.mimePackage, record.desktopEntry})
        if (!file.empty() && !usedByOthers(records, file))
          changes.set(file, std::nullopt);
    }
    changes.remember(registry_.plugInsFile());
    changes.remember(registry_.electionsFile());
    plugIns_.write(lock, before, after);
    changes.remember(registry_.applicationsFile());
    ApplicationDatabase::write(registry_, lock, records);
  } catch (...) {
    changes.rollBack();
    throw;
  }
  if (desktop_.runUpdateTools)
    DesktopIntegration::updateDatabases(desktop_.dataHome, warnings_);
}

std::string Registration::dump() {
  const std::vector<ApplicationRecord> records =
      ApplicationDatabase::read(registry_, false, warnings_);
  const RegistryState state = plugIns_.read(false);
  for (std::string& warning : plugIns_.takeWarnings())
    warnings_.push_back(std::move(warning));
  std::string out;
  for (const ApplicationRecord& record : records) {
    out += "application: " + record.identifier + " (" + record.version + ", " +
           record.bundleVersion + ")\n";
    out += "  name: " + record.name + "\n";
    out += "  path: " + record.path.string() + "\n";
    out += "  executable: " + record.executable.string() + "\n";
    out += std::string("  trusted: ") + (record.trusted ? "yes" : "no") + "\n";
    out += "  desktop entry: " + record.desktopEntry.string() + "\n";
    if (!record.mimePackage.empty())
      out += "  MIME package: " + record.mimePackage.string() + "\n";
    std::string types;
    for (const std::string& type : record.mimeTypes)
      types += (types.empty() ? "" : ", ") + type;
    out += "  MIME types: " + types + "\n";
    for (const PlugIn& plugIn : state.plugIns)
      if (plugIn.container == record.path)
        out += "  plug-in: " + plugIn.identifier + "(" + plugIn.version + ") " +
               plugIn.extensionPoint + " " + plugIn.path.string() + "\n";
  }
  return out;
}
