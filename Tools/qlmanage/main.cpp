// qlmanage: the preview service on the command line. For each FILE it picks the preview
// extension by content type, asks the extension's process for a reply, and writes the reply as
// a preview folder (-o DIR) or shows it in the preview panel (-p).

#include "ExtensionKit/ExtensionCatalog.h"
#include "ExtensionKit/ExtensionProcess.h"
#include "PreviewOutput.h"
#include "QuickLookService/PreviewServiceClient.h"
#include "QuickLookUI/QLPreviewPanel.h"
#include "UniformTypeIdentifiers/UTType.h"

#include <algorithm>
#include <atomic>
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
    "usage: qlmanage -o DIR [--app APP] [-c CONTENT_TYPE] [-j N] [-v] FILE...\n"
    "       qlmanage -p [--app APP] [-c CONTENT_TYPE] [-j N] [-v] FILE...\n"
    "       qlmanage -r [cache]\n"
    "  -o DIR           write DIR/<file name>.qlpreview/ for each FILE\n"
    "  -p               show the previews in the preview panel (without a display: write\n"
    "                   each as a standalone page and print its path)\n"
    "  -r [cache]       reset the preview server: its extension processes end and the\n"
    "                   extensions are read again; \"cache\" also drops cached previews\n"
    "  --app APP        the app bundle whose PlugIns serve the previews\n"
    "                   (default: the one beside qlmanage)\n"
    "  -c CONTENT_TYPE  treat every FILE as this content type\n"
    "  -j N             requests in flight at once (default: hardware threads)\n"
    "  -v               report each extension process started\n";

struct Options {
  std::optional<fs::path> outputDirectory;
  bool preview = false;
  fs::path app;
  std::optional<std::string> contentType;
  unsigned jobs = std::max(2u, std::thread::hardware_concurrency());
  bool verbose = false;
  std::optional<bool> reset; // -r: true when the cache goes too
  std::vector<std::string> files;
};

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "qlmanage: " << message << "\n" << kUsage;
  std::exit(2);
}

Options parseOptions(int argc, char** argv) {
  Options options;
  options.app = fs::path("/proc/self/exe");
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  options.app = (ec ? fs::current_path() : self.parent_path()) / "Lumivale Quick Look.app";
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
    } else if (arg == "-r") {
      options.reset = i + 1 < argc && std::string(argv[i + 1]) == "cache";
      if (*options.reset)
        ++i;
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
    } else if (arg == "-v") {
      options.verbose = true;
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      std::exit(0);
    } else {
      usageError("unknown option " + arg);
    }
  }
  if (options.reset) {
    if (options.outputDirectory || options.preview || !options.files.empty())
      usageError("-r takes no other options or files");
    return options;
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

// Starts each extension's process on first use and keeps it for the rest of the run.
class ProcessPool {
public:
  explicit ProcessPool(bool verbose) : verbose_(verbose) {}
  ExtensionProcess& processFor(const PreviewExtension& extension) {
    std::lock_guard lock(mutex_);
    auto& slot = processes_[extension.name];
    if (!slot) {
      slot = std::make_unique<ExtensionProcess>(extension.name, extension.executable);
      if (verbose_)
        std::cerr << "qlmanage: started " << extension.name << " (pid " << slot->pid() << ")\n";
    }
    return *slot;
  }

private:
  bool verbose_;
  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<ExtensionProcess>> processes_;
};

// Where replies come from: the preview server when one can be reached (it keeps the
// extensions warm), else the extension processes of this run.
class ReplySource {
public:
  ReplySource(const Options& options, ProcessPool& processes)
      : app_(options.app), verbose_(options.verbose), processes_(processes),
        serverUsable_(PreviewServiceClient::sessionBusAvailable() &&
                      std::getenv("LUMIVALE_NO_PREVIEW_SERVER") == nullptr) {}

  // Blocks until the reply is there; failures come back as error replies.
  PreviewWire::Reply fetch(const Job& job) {
    if (serverUsable_) {
      std::string why;
      if (auto reply = PreviewServiceClient::preview(app_, job.path.string(), job.contentType, why))
        return std::move(*reply);
      // Not there: do not ask again in this run (and say so once).
      if (serverUsable_.exchange(false) && verbose_)
        std::cerr << "qlmanage: previewing without the preview server (" << why << ")\n";
    }
    try {
      return processes_.processFor(*job.extension)
          .request(job.path.string(), job.contentType)
          .get();
    } catch (const std::exception& e) {
      return PreviewWire::errorReply(0, {"Lumivale.PreviewService", 5, e.what()});
    }
  }

private:
  fs::path app_;
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

// Shows the jobs in the preview panel. Every request is sent before the panel starts, so the
// extensions work while the window system and web engine come up.
int showInPanel(int argc, char** argv, const std::vector<Job>& jobs, ReplySource& source) {
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
    items.push_back({QString::fromStdString(job.path.filename().string()), std::move(fetch)});
  }
  const PanelResult result = runPreviewPanel(argc, argv, std::move(items));
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
  Options options = parseOptions(argc, argv);
  if (options.reset) {
    std::string why;
    if (!PreviewServiceClient::reset(*options.reset, why)) {
      std::cerr << "qlmanage: cannot reset the preview server: " << why << "\n";
      return 1;
    }
    return 0;
  }

  std::optional<ExtensionCatalog> catalog;
  try {
    catalog.emplace(options.app);
  } catch (const std::exception& e) {
    std::cerr << "qlmanage: " << e.what() << "\n";
    return 1;
  }
  if (options.contentType && !UTType::fromIdentifier(*options.contentType)) {
    std::cerr << "qlmanage: unknown content type " << *options.contentType << "\n";
    return 1;
  }

  const bool inPanel = options.preview && hasDisplay();
  // Decide content type and extension for every file up front.
  std::vector<Job> jobs;
  std::set<std::string> names;
  for (const std::string& argument : options.files) {
    Job job{argument, fs::absolute(argument), {}, nullptr, {}};
    std::optional<UTType> type =
        options.contentType
            ? UTType::fromIdentifier(*options.contentType)
            : UTType::fromFilenameExtension(job.path.has_extension()
                                                ? job.path.extension().string().substr(1)
                                                : std::string(),
                                            UTType::data);
    if (!type) {
      job.error = "The content type of the file cannot be determined (use -c CONTENT_TYPE).";
    } else {
      job.contentType = type->identifier();
      job.extension = catalog->extensionFor(*type);
      if (!job.extension)
        job.error = "No preview extension handles content type " + job.contentType + ".";
    }
    if (job.error.empty() && !inPanel && !names.insert(job.path.filename().string()).second)
      job.error = "Another file of the same name is previewed in this call.";
    jobs.push_back(std::move(job));
  }

  ProcessPool processes(options.verbose);
  ReplySource source(options, processes);
  if (inPanel)
    return showInPanel(argc, argv, jobs, source);

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
          if (options.verbose) {
            std::lock_guard lock(outputMutex);
            std::cerr << "qlmanage: wrote " << folder.string() << "\n";
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
