#include "SoftwareUpdate/SPUUpdaterConfiguration.h"

#include "Foundation/Bundle.h"

#include <charconv>

namespace fs = std::filesystem;

namespace {

std::optional<double> number(const PropertyList* value) {
  if (!value)
    return std::nullopt;
  if (auto* i = std::get_if<std::int64_t>(&value->value()))
    return static_cast<double>(*i);
  if (auto* d = std::get_if<double>(&value->value()))
    return *d;
  if (auto* s = value->asString()) {
    double parsed = 0;
    auto [end, ec] = std::from_chars(s->data(), s->data() + s->size(), parsed);
    if (ec == std::errc() && end == s->data() + s->size())
      return parsed;
  }
  return std::nullopt;
}

} // namespace

SPUUpdaterConfiguration SPUUpdaterConfiguration::fromBundle(const Bundle& bundle) {
  SPUUpdaterConfiguration config;
  config.feedURL = bundle.infoString("SUFeedURL").value_or("");
  config.publicEDKey = bundle.infoString("SUPublicEDKey").value_or("");
  if (auto interval = number(bundle.infoDictionary().member("SUScheduledCheckInterval"));
      interval && *interval > 0)
    config.scheduledCheckInterval = *interval;
  config.bundleVersion = bundle.infoString("CFBundleVersion").value_or("");
  config.bundleIdentifier = bundle.bundleIdentifier().value_or("");
  config.bundlePath = bundle.bundlePath();
  if (auto name = bundle.infoString("CFBundleName"); name && !name->empty())
    config.applicationName = *name;

  // The executable to relaunch: the bundle's CFBundleExecutable, else the running one.
  fs::path executable;
  if (auto name = bundle.infoString("CFBundleExecutable");
      name && !name->empty() && name->find('/') == std::string::npos)
    executable = fs::path("Contents") / "MacOS" / *name;
  else {
    std::error_code ec;
    fs::path running = fs::read_symlink("/proc/self/exe", ec);
    fs::path relative = running.lexically_relative(bundle.bundlePath());
    if (!ec && !relative.empty() && *relative.begin() != "..")
      executable = relative;
  }
  config.relaunchExecutable = executable;
  config.installerToolPath = bundle.bundlePath() / "Contents" / "MacOS" / "Autoupdate";
  return config;
}
