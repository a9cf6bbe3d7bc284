#include "ExtensionRegistration.h"

#include "Foundation/Subprocess.h"
#include "Foundation/UTF8.h"

namespace {

std::string decodedOutput(std::string bytes) {
  return isValidUTF8(bytes) ? std::move(bytes) : std::string();
}

std::string joined(const std::string& path, const std::vector<std::string>& arguments) {
  std::string command = path;
  for (const std::string& argument : arguments)
    command += ' ' + argument;
  return command;
}

// Runs one step; nullopt on success, the error otherwise.
std::optional<RegistrationError> step(const std::string& path,
                                      const std::vector<std::string>& arguments) {
  try {
    runCommand(path, arguments);
    return std::nullopt;
  } catch (const QuickLookRegistrationError& error) {
    return error;
  } catch (const NSErrorException& error) {
    return error.error();
  }
}

} // namespace

RegistrationTools RegistrationTools::fromBundle(const Bundle& bundle) {
  return {bundle.infoString("LumivaleLaunchServicesToolPath").value_or("lsregister"),
          bundle.infoString("LumivalePlugInKitToolPath").value_or("pluginkit"),
          bundle.infoString("LumivaleQuickLookToolPath").value_or("qlmanage"),
          bundle.infoString("LumivaleForeignSQLitePreviewIdentifier").value_or("")};
}

std::string RegistrationResult::localizedDescription() const {
  if (!error_)
    return {};
  if (const auto* tool = std::get_if<QuickLookRegistrationError>(&*error_))
    return tool->localizedDescription();
  return std::get<NSError>(*error_).localizedDescription;
}

void runCommand(const std::string& path, const std::vector<std::string>& arguments) {
  SubprocessResult result = runSubprocess(path, arguments);
  if (result.terminationStatus == 0)
    return;
  throw QuickLookRegistrationError{joined(path, arguments), result.terminationStatus,
                                   decodedOutput(std::move(result.output))};
}

std::string captureOutput(const std::string& path, const std::vector<std::string>& arguments) {
  return decodedOutput(runSubprocess(path, arguments).output);
}

RegistrationResult registerExtensions(const URL& bundleURL, const RegistrationTools& tools) {
  if (auto error = step(tools.launchServices, {"-f", "-R", "-trusted", bundleURL.path()}))
    return RegistrationResult::failure(std::move(*error));
  // The plug-in registry's answers never decide the outcome: the foreign extension may not be
  // installed, and an election that did not take shows in the status window.
  step(tools.plugInKit, {"-e", "ignore", "-i", tools.foreignSQLitePreviewIdentifier});
  for (std::string_view identifier : kOwnExtensionIdentifiers)
    step(tools.plugInKit, {"-e", "use", "-i", std::string(identifier)});
  if (auto error = step(tools.quickLook, {"-r"}))
    return RegistrationResult::failure(std::move(*error));
  if (auto error = step(tools.quickLook, {"-r", "cache"}))
    return RegistrationResult::failure(std::move(*error));
  return RegistrationResult::success();
}
