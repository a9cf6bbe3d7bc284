// qlmanage-panel: the preview panel of `qlmanage -p` in qlmanage's own process, for when no
// panel agent shows it (no session bus, another display or appearance than the agent's, an
// agent that cannot start). qlmanage becomes this program with its command line unchanged, so
// that only this program loads the window system and the web engine. It decides the jobs as
// qlmanage did (qlmanage has already reported the lookup's warnings) and shows them.

#include "CommandLine.h"
#include "PreviewJobs.h"
#include "QuickLookUI/QLPreviewPanel.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Shows the jobs in the preview panel. Every request is sent before the panel starts, so the
// extensions work while the window system and web engine come up. Documents the user reaches
// through links are previewed the same way, by the file's type (never -c's).
int showInPanel(int argc, char** argv, const std::vector<Job>& jobs, ReplySource& source,
                ExtensionLookup& lookup) {
  std::vector<QLPreviewItem> items;
  for (const Job& job : jobs) {
    std::function<PreviewWire::Reply()> fetch;
    if (!job.error.empty()) {
      fetch = [reply = PreviewWire::errorReply(0, {"Lumivale.PreviewService", 1, job.error})] {
        return reply;
      };
    } else {
      auto future = std::make_shared<std::future<PreviewWire::Reply>>(
          std::async(std::launch::async, [&source, &job] { return source.fetch(job); }));
      fetch = [future] { return future->get(); };
    }
    items.push_back({QString::fromStdString(job.path.filename().string()), std::move(fetch),
                     QString::fromStdString(job.path.string())});
  }
  // The lookup is asked from the panel's thread and from the fetching threads.
  auto lookupMutex = std::make_shared<std::mutex>();
  LinkedPreviewSource linked;
  linked.canPreview = [&lookup, lookupMutex](const QString& path) {
    std::lock_guard lock(*lookupMutex);
    return makeJob(path.toStdString(), std::nullopt, lookup).error.empty();
  };
  linked.fetch = [&lookup, &source, lookupMutex](const QString& path) {
    Job job;
    {
      std::lock_guard lock(*lookupMutex);
      job = makeJob(path.toStdString(), std::nullopt, lookup);
    }
    if (!job.error.empty())
      return PreviewWire::errorReply(0, {"Lumivale.PreviewService", 1, job.error});
    return source.fetch(job);
  };
  const PanelResult result = runPreviewPanel(argc, argv, std::move(items), std::move(linked));
  std::fflush(stdout);
  std::fflush(stderr);
  // A preview still being made when the panel closed is not waited for.
  if (result.unfinished > 0)
    std::_Exit(result.failed > 0 ? 1 : 0);
  return result.failed > 0 ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  const Options options = parseOptions(argc, argv);
  if (!options.preview || !hasDisplay()) {
    std::cerr << "qlmanage-panel: shows the preview panel of qlmanage -p, on a display\n";
    return 2;
  }
  std::optional<ExtensionLookup> lookup = openExtensionLookup(options);
  if (!lookup)
    return 1;
  std::vector<Job> jobs;
  for (const std::string& argument : options.files)
    jobs.push_back(makeJob(argument, options.contentType, *lookup));
  ProcessPool processes(options.timeout, options.verbose);
  ReplySource source(options, processes);
  return showInPanel(argc, argv, jobs, source, *lookup);
}
