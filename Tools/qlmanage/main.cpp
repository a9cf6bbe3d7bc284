// qlmanage: the preview service on the command line. For each FILE it picks the preview
// extension by content type (from the plug-in registry, or from one app with --app), asks the
// extension's process for a reply, and writes the reply as a preview folder (-o DIR) or shows
// it in the preview panel (-p). -r and -m address the service itself (ServiceCommands).

#include "ExtensionKit/ExtensionProcess.h"
#include "PreviewOutput.h"
#include "QuickLook/PreviewServiceError.h"
#include "QuickLookService/ExtensionLookup.h"
#include "QuickLookService/PreviewServiceClient.h"
#include "QuickLookUI/PanelAgentClient.h"
#include "QuickLookUI/QLPreviewPanel.h"
#include "ServiceCommands.h"
#include "UniformTypeIdentifiers/UTType.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;
namespace fs = std::filesystem;

namespace {

const char* const kUsage =
    "usage: qlmanage -o DIR [--app APP] [-c CONTENT_TYPE] [-j N] [--timeout S] [-v] [-q] FILE...\n"
    "       qlmanage -p [--app APP] [-c CONTENT_TYPE] [-j N] [--timeout S] [-v] FILE...\n"
    "       qlmanage -r [cache]\n"
    "       qlmanage -m [plugins]\n"
    "  -o DIR           write DIR/<file name>.qlpreview/ for each FILE and print where\n"
    "  -p               show the previews in the preview panel (without a display: write\n"
    "                   each as a standalone page and print its path)\n"
    "  --app APP        take the extensions from this app bundle's PlugIns, bypassing the\n"
    "                   plug-in registry (default: the registered, switched-on extensions)\n"
    "  -r [cache]       reset the preview servers: their extension processes end and the\n"
    "                   registry is read again; \"cache\" also empties the preview cache\n"
    "  -m               list which registered extension serves each content type\n"
    "  -c CONTENT_TYPE  treat every FILE as this content type\n"
    "  -j N             requests in flight at once (default: hardware threads)\n"
    "  --timeout S      fail a preview that takes longer than S seconds (default: 30)\n"
    "  -v               report each extension process started\n"
    "  -q               print nothing but errors\n";

struct Options {
  std::optional<fs::path> outputDirectory;
  bool preview = false;
  std::optional<fs::path> app; // nullopt: the plug-in registry
  std::optional<std::string> contentType;
  unsigned jobs = std::max(2u, std::thread::hardware_concurrency());
  std::chrono::milliseconds timeout = std::chrono::seconds(30);
  bool verbose = false;
  bool quiet = false;
  std::vector<std::string> files;
};

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "qlmanage: " << message << "\n" << kUsage;
  std::exit(2);
}

Options parseOptions(int argc, char** argv) {
  Options options;
  bool endOfOptions = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* what) -> std::string {
      if (i + 1 >= argc)
        usageError(std::string(what) + " needs a value");
      return argv[++i];
    };
    if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
      options.files.push_back(arg);
    } else if (arg == "--") {
      endOfOptions = true;
    } else if (arg == "-o") {
      options.outputDirectory = value("-o");
    } else if (arg == "-p") {
      options.preview = true;
    } else if (arg == "--app") {
      options.app = value("--app");
    } else if (arg == "-c") {
      options.contentType = value("-c");
    } else if (arg == "-j") {
      const std::string n = value("-j");
      char* end = nullptr;
      const long jobs = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end || jobs < 1 || jobs > 256)
        usageError("-j needs a number from 1 to 256");
      options.jobs = static_cast<unsigned>(jobs);
    } else if (arg == "--timeout") {
      const std::string text = value("--timeout");
      char* end = nullptr;
      const double seconds = std::strtod(text.c_str(), &end);
      if (text.empty() || *end || !(seconds > 0) || seconds > 86400)
        usageError("--timeout needs a positive number of seconds (at most 86400)");
      options.timeout = std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
    } else if (arg == "-v") {
      options.verbose = true;
    } else if (arg == "-q") {
      options.quiet = true;
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      std::exit(0);
    } else {
      usageError("unknown option " + arg);
    }
  }
  if (options.outputDirectory.has_value() == options.preview)
    usageError("give exactly one of -o DIR and -p");
  if (options.files.empty())
    usageError("no files given");
  return options;
}

// One document to preview, with what was decided for it before any extension ran.
struct Job {
  std::string argument; // FILE as given, for messages
  fs::path path;        // absolute
  std::string contentType;
  const PreviewExtension* extension = nullptr;
  std::string error; // set when the job failed before it was sent
};

// Decides the content type (`contentType`, else by the file name) and extension of a file.
Job makeJob(const std::string& argument, const std::optional<std::string>& contentType,
            ExtensionLookup& lookup) {
  Job job{argument, fs::absolute(argument), {}, nullptr, {}};
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

// Starts each extension's process on first use and keeps it for the rest of the run (a process
// that crashes or hangs is replaced by its ExtensionProcess).
class ProcessPool {
public:
  ProcessPool(std::chrono::milliseconds timeout, bool verbose)
      : timeout_(timeout), verbose_(verbose) {}
  ExtensionProcess& processFor(const PreviewExtension& extension) {
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

private:
  std::chrono::milliseconds timeout_;
  bool verbose_;
  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<ExtensionProcess>> processes_;
};

// Where replies come from: the preview server when one can be reached (it keeps the
// extensions warm), else the extension processes of this run.
class ReplySource {
public:
  ReplySource(const Options& options, ProcessPool& processes)
      : verbose_(options.verbose), processes_(processes),
        serverUsable_(PreviewServiceClient::sessionBusAvailable() &&
                      std::getenv("LUMIVALE_NO_PREVIEW_SERVER") == nullptr) {}

  // Blocks until the reply is there; failures come back as error replies.
  PreviewWire::Reply fetch(const Job& job) {
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
      return processes_.processFor(*job.extension).request(job.path.string()).get();
    } catch (const std::exception& e) {
      return PreviewWire::errorReply(
          0, makeServiceError(PreviewServiceError::unsendableRequest, e.what()));
    }
  }

private:
  bool verbose_;
  ProcessPool& processes_;
  std::atomic<bool> serverUsable_;
};

bool hasDisplay() {
  auto present = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  return present("DISPLAY") || present("WAYLAND_DISPLAY") || present("QT_QPA_PLATFORM");
}

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
  if (std::optional<int> status = runServiceCommand(argc, argv))
    return *status;
  Options options = parseOptions(argc, argv);

  std::optional<ExtensionLookup> lookup;
  try {
    lookup.emplace(options.app ? ExtensionLookup::fromApp(*options.app)
                               : ExtensionLookup::fromRegistry());
  } catch (const std::exception& e) {
    std::cerr << "qlmanage: " << e.what() << "\n";
    return 1;
  }
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

  ProcessPool processes(options.timeout, options.verbose);
  ReplySource source(options, processes);
  if (inPanel) {
    if (std::optional<int> status = showInAgent(jobs, options))
      return *status;
    return showInPanel(argc, argv, jobs, source, *lookup);
  }

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
        PreviewWire::Reply reply = source.fetch(job);
        if (std::string error = replyError(reply); !error.empty()) {
          report(job, error);
          continue;
        }
        const std::string name = job.path.filename().string();
        if (options.preview) {
          const fs::path folder = PreviewOutput::writePreviewFolder(outputDirectory, name, reply);
          const fs::path page = folder / "Standalone.html";
          std::lock_guard lock(outputMutex);
          std::cout << page.string() << std::endl;
        } else {
          const fs::path folder = PreviewOutput::writePreviewFolder(outputDirectory, name, reply);
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
