#include "PreviewJobs.h"

#include "QuickLook/PreviewServiceError.h"
#include "QuickLookService/PreviewServiceClient.h"
#include "UniformTypeIdentifiers/UTType.h"

#include <cstdlib>
#include <iostream>

std::optional<ExtensionLookup> openExtensionLookup(const Options& options) {
  try {
    return options.app ? ExtensionLookup::fromApp(*options.app) : ExtensionLookup::fromRegistry();
  } catch (const std::exception& e) {
    std::cerr << "qlmanage: " << e.what() << "\n";
    return std::nullopt;
  }
}

Job makeJob(const std::string& argument, const std::optional<std::string>& contentType,
            ExtensionLookup& lookup) {
  Job job{argument, std::filesystem::absolute(argument), {}, nullptr, {}};
  if (!contentType) {
    job.extension = lookup.extensionForFile(job.path, job.contentType, job.error);
    if (job.contentType.empty())
      job.error = "The content type of the file cannot be determined (use -c CONTENT_TYPE).";
    return job;
  }
  if (std::optional<UTType> type = UTType::fromIdentifier(*contentType)) {
    job.contentType = type->identifier();
    job.extension = lookup.extensionFor(*type, job.error);
  } else {
    job.error = "The content type of the file cannot be determined (use -c CONTENT_TYPE).";
  }
  return job;
}

ExtensionProcess& ProcessPool::processFor(const PreviewExtension& extension) {
  std::lock_guard lock(mutex_);
  auto& slot = processes_[extension.name];
  if (!slot) {
    ExtensionProcess::Options options;
    options.timeout = timeout_;
    if (verbose_)
      options.onLaunch = [name = extension.name](pid_t pid) {
        std::cerr << "qlmanage: started " << name << " (pid " << pid << ")\n";
      };
    slot = std::make_unique<ExtensionProcess>(extension.name, extension.executable, options);
  }
  return *slot;
}

ReplySource::ReplySource(const Options& options, ProcessPool& processes)
    : verbose_(options.verbose), processes_(processes),
      serverUsable_(PreviewServiceClient::sessionBusAvailable() &&
                    std::getenv("LUMIVALE_NO_PREVIEW_SERVER") == nullptr) {}

PreviewWire::Reply ReplySource::fetch(const Job& job,
                                      std::shared_ptr<PreviewWire::PageFile> pageFile) {
  if (serverUsable_) {
    std::string why;
    if (auto reply = PreviewServiceClient::preview(ExtensionLookup::appBundleOf(*job.extension),
                                                   job.path.string(), job.contentType, why))
      return std::move(*reply);
    // Not there: do not ask again in this run (and say so once).
    if (serverUsable_.exchange(false) && verbose_)
      std::cerr << "qlmanage: previewing without the preview server (" << why << ")\n";
  }
  try {
    return processes_.processFor(*job.extension)
        .request(job.path.string(), std::move(pageFile))
        .get();
  } catch (const std::exception& e) {
    return PreviewWire::errorReply(
        0, makeServiceError(PreviewServiceError::unsendableRequest, e.what()));
  }
}
