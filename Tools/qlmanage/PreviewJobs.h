// PreviewJobs: what qlmanage decides for each FILE before any extension runs (Job), and where
// the replies then come from (ReplySource: the preview server, else extension processes of this
// run, kept in a ProcessPool). Shared by qlmanage and qlmanage-panel.
#pragma once

#include "CommandLine.h"
#include "ExtensionKit/ExtensionProcess.h"
#include "QuickLook/PreviewWire.h"
#include "QuickLookService/ExtensionLookup.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// One document to preview, with what was decided for it before any extension ran.
struct Job {
  std::string argument;       // FILE as given, for messages
  std::filesystem::path path; // absolute
  std::string contentType;
  const PreviewExtension* extension = nullptr;
  std::string error; // set when the job failed before it was sent
};

// The extensions to choose from: those of `--app`, else the registry's. On failure, says why
// on standard error and returns nothing.
std::optional<ExtensionLookup> openExtensionLookup(const Options& options);

// Decides the content type (`contentType`, else by the file name) and extension of a file.
Job makeJob(const std::string& argument, const std::optional<std::string>& contentType,
            ExtensionLookup& lookup);

// Starts each extension's process on first use and keeps it for the rest of the run (a process
// that crashes or hangs is replaced by its ExtensionProcess). Thread-safe.
class ProcessPool {
public:
  ProcessPool(std::chrono::milliseconds timeout, bool verbose)
      : timeout_(timeout), verbose_(verbose) {}
  ExtensionProcess& processFor(const PreviewExtension& extension);

private:
  std::chrono::milliseconds timeout_;
  bool verbose_;
  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<ExtensionProcess>> processes_;
};

// Where replies come from: the preview server when one can be reached (it keeps the
// extensions warm), else the extension processes of this run. Thread-safe.
class ReplySource {
public:
  ReplySource(const Options& options, ProcessPool& processes);

  // Blocks until the reply is there; failures come back as error replies. With a page file,
  // an extension process of this run writes the page into it instead of into the reply (see
  // ExtensionProcess::request); the preview server's replies always carry their page.
  PreviewWire::Reply fetch(const Job& job,
                           std::shared_ptr<PreviewWire::PageFile> pageFile = nullptr);

private:
  bool verbose_;
  ProcessPool& processes_;
  std::atomic<bool> serverUsable_;
};
