// qlmanage: the preview service on the command line. For each FILE it picks the preview
// extension by content type (from the plug-in registry, or from one app with --app), asks the
// extension's process for a reply, and writes the reply as a preview folder (-o DIR) or shows
// it in the preview panel (-p): in a panel of the panel agent, else through qlmanage-panel,
// which this process becomes. -r and -m address the service itself (ServiceCommands).
//
// Neither the window system nor the web engine is loaded here: a panel shown by the agent
// waits for nothing but this process's start and one bus call.

#include "CommandLine.h"
#include "PreviewJobs.h"
#include "PreviewOutput.h"
#include "QuickLookService/PanelAgentClient.h"
#include "ServiceCommands.h"
#include "UniformTypeIdentifiers/UTType.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string replyError(const PreviewWire::Reply& reply) {
  if (reply.error)
    return reply.error->localizedDescription.empty() ? "The preview failed."
                                                     : reply.error->localizedDescription;
  if (reply.contentType != UTType::html.identifier())
    return "The preview extension replied with content type \"" + reply.contentType +
           "\", which cannot be shown.";
  return {};
}

// Shows the jobs in a panel of the panel agent, whose web engine is already running; nullopt
// (and nothing shown) when the agent cannot be used.
std::optional<int> showInAgent(const std::vector<Job>& jobs, const Options& options) {
  if (std::getenv("LUMIVALE_NO_PANEL_AGENT"))
    return std::nullopt;
  PanelAgentRequest request;
  for (const Job& job : jobs) {
    PanelAgentItem item;
    item.displayName = job.path.filename().string();
    item.path = job.path.string();
    item.contentType = job.contentType;
    item.error = job.error;
    if (job.extension) {
      item.appBundle = ExtensionLookup::appBundleOf(*job.extension).string();
      item.extensionName = job.extension->name;
      item.extensionExecutable = job.extension->executable.string();
    }
    request.items.push_back(std::move(item));
  }
  if (const char* probe = std::getenv("LUMIVALE_PANEL_PROBE"))
    request.probe = probe;
  request.desktop = PanelAgentRequest::currentDesktop();
  if (options.app)
    request.app = fs::absolute(*options.app).string();
  std::string why;
  const std::optional<PanelAgentClient::Outcome> outcome = PanelAgentClient::show(request, why);
  if (!outcome) {
    if (options.verbose)
      std::cerr << "qlmanage: showing the panel without the panel agent (" << why << ")\n";
    return std::nullopt;
  }
  return outcome->failed > 0 ? 1 : 0;
}

// Shows the jobs in the preview panel of this process: it becomes qlmanage-panel (beside this
// executable) with the same command line, which decides the jobs again and shows them.
[[noreturn]] void showInOwnPanel(char** argv) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path panel = ec ? fs::path() : self.parent_path() / "qlmanage-panel";
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  if (!panel.empty())
    ::execv(panel.c_str(), argv);
  const std::string why = ec ? "cannot find this program's folder: " + ec.message()
                             : panel.string() + ": " + std::strerror(errno);
  std::cerr << "qlmanage: cannot show the preview panel (" << why << ")\n";
  std::exit(1);
}

} // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  if (std::optional<int> status = runServiceCommand(argc, argv))
    return *status;
  Options options = parseOptions(argc, argv);

  std::optional<ExtensionLookup> lookup = openExtensionLookup(options);
  if (!lookup)
    return 1;
  for (const std::string& warning : lookup->warnings())
    std::cerr << "qlmanage: " << warning << "\n";
  if (options.contentType && !UTType::fromIdentifier(*options.contentType)) {
    std::cerr << "qlmanage: unknown content type " << *options.contentType << "\n";
    return 1;
  }

  const bool inPanel = options.preview && hasDisplay();
  // Decide content type and extension for every file up front.
  std::vector<Job> jobs;
  std::set<std::string> names;
  for (const std::string& argument : options.files) {
    Job job = makeJob(argument, options.contentType, *lookup);
    if (job.error.empty() && !inPanel && !names.insert(job.path.filename().string()).second)
      job.error = "Another file of the same name is previewed in this call.";
    jobs.push_back(std::move(job));
  }

  if (inPanel) {
    if (std::optional<int> status = showInAgent(jobs, options))
      return *status;
    showInOwnPanel(argv);
  }

  ProcessPool processes(options.timeout, options.verbose);
  ReplySource source(options, processes);
  fs::path outputDirectory;
  if (options.outputDirectory) {
    outputDirectory = *options.outputDirectory;
    std::error_code ec;
    fs::create_directories(outputDirectory, ec);
    if (!fs::is_directory(outputDirectory)) {
      std::cerr << "qlmanage: cannot use " << outputDirectory.string() << " as output folder\n";
      return 1;
    }
  } else {
    std::string pattern = (fs::temp_directory_path() / "qlmanage-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      std::cerr << "qlmanage: cannot create a temporary folder\n";
      return 1;
    }
    outputDirectory = pattern;
  }

  std::mutex outputMutex;
  std::atomic<bool> anyFailed = false;
  std::atomic<std::size_t> next = 0;
  auto report = [&](const Job& job, const std::string& error) {
    std::lock_guard lock(outputMutex);
    std::cerr << "qlmanage: " << job.argument << ": " << error << "\n";
    anyFailed = true;
  };
  auto work = [&] {
    for (std::size_t i = next++; i < jobs.size(); i = next++) {
      const Job& job = jobs[i];
      if (!job.error.empty()) {
        report(job, job.error);
        continue;
      }
      try {
        // The page goes straight into the folder's Preview.html as it arrives.
        PreviewOutput::PreviewFolder staging(outputDirectory, job.path.filename().string());
        PreviewWire::Reply reply = source.fetch(job, staging.pageFile());
        if (std::string error = replyError(reply); !error.empty()) {
          report(job, error);
          continue;
        }
        if (options.preview) {
          const fs::path folder = staging.finish(reply);
          const fs::path page = folder / "Standalone.html";
          std::lock_guard lock(outputMutex);
          std::cout << page.string() << std::endl;
        } else {
          const fs::path folder = staging.finish(reply);
          if (!options.quiet) {
            std::lock_guard lock(outputMutex);
            std::cout << job.argument << " -> " << (folder / "Standalone.html").string()
                      << std::endl;
          }
        }
      } catch (const std::exception& e) {
        report(job, e.what());
      }
    }
  };
  std::vector<std::thread> workers;
  const unsigned count = std::min<unsigned>(options.jobs, static_cast<unsigned>(jobs.size()));
  for (unsigned i = 1; i < count; ++i)
    workers.emplace_back(work);
  work();
  for (std::thread& worker : workers)
    worker.join();
  return anyFailed ? 1 : 0;
}
