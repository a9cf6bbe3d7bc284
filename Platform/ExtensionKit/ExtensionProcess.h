// ExtensionProcess: one preview extension, run as a sandboxed child process (through the
// xpcproxy launcher) that is started once and reused for many requests. Requests may be sent
// from several threads; replies are matched to requests by id.
//
// Failures stay with the requests they concern: when the process crashes, the requests in
// flight in it fail with an error that says so, and the next request starts a new process. A
// request that gets no reply within the time-out fails with a message that says so; its process
// is ended, and the other requests in flight in it are sent again to a new process (with a
// fresh time-out each). Destroying the object closes the request pipe, lets the extension
// answer what is in flight (each request still bound by its time-out) and reaps it.
#pragma once

#include "QuickLook/PreviewServiceError.h"
#include "QuickLook/PreviewWire.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>

// How an ExtensionProcess starts and watches its processes.
struct ExtensionProcessOptions {
  // The sandbox launcher for `extensionExecutable`: xpcproxy in the folder of the running
  // executable, else in the folder that holds the app bundle the extension belongs to
  // (<folder>/<App>.app/Contents/PlugIns/<Name>.appex/Contents/MacOS/<Name>), where the build
  // puts it beside qlmanage.
  static std::filesystem::path findLauncher(const std::filesystem::path& extensionExecutable);

  // The sandbox launcher; empty: findLauncher's choice.
  std::filesystem::path launcher;
  // How long a request may wait for its reply.
  std::chrono::milliseconds timeout = std::chrono::seconds(30);
  // Called with the process id each time a process is started (under the ExtensionProcess's
  // lock: it must not call back into that object).
  std::function<void(pid_t)> onLaunch;
};

class ExtensionProcess {
public:
  // Error codes of replies the host makes itself (see PreviewServiceError).
  static constexpr std::int64_t kExtensionEnded =
      static_cast<std::int64_t>(PreviewServiceError::extensionUnavailable);
  static constexpr std::int64_t kRequestUnsendable =
      static_cast<std::int64_t>(PreviewServiceError::unsendableRequest);
  static constexpr std::int64_t kTimedOut =
      static_cast<std::int64_t>(PreviewServiceError::timedOut);
  static constexpr std::int64_t kCannotStart =
      static_cast<std::int64_t>(PreviewServiceError::cannotStart);

  using Options = ExtensionProcessOptions;

  // Starts the first process at once. Throws std::runtime_error when it cannot be started
  // (no usable sandbox on this system, the launcher or the extension missing).
  ExtensionProcess(std::string name, std::filesystem::path executable, Options options = {});
  ~ExtensionProcess();
  ExtensionProcess(const ExtensionProcess&) = delete;
  ExtensionProcess& operator=(const ExtensionProcess&) = delete;

  // Sends one request; the future yields its reply (possibly an error reply). With a page
  // file, the reply's page is written into it as it arrives instead of into the reply's data
  // (see PreviewWire::readReply); it is complete in the file when the reply carries no error
  // and the file reports a received size.
  std::future<PreviewWire::Reply>
  request(const std::string& path, std::shared_ptr<PreviewWire::PageFile> pageFile = nullptr);

  // Ends the running process now; its requests in flight fail with `why`. The next request
  // starts a new process.
  void terminate(const std::string& why);

  // The running process, or -1 when none runs (it ended and no request has come since).
  pid_t pid() const;
  // How many processes have been started.
  unsigned launches() const;
  const std::string& name() const { return name_; }

private:
  struct Child;
  struct Pending {
    std::promise<PreviewWire::Reply> promise;
    std::string frame; // kept for sending again to a new process
    std::chrono::steady_clock::time_point deadline;
    std::uint64_t generation;                        // the process it was sent to
    std::shared_ptr<PreviewWire::PageFile> pageFile; // where the page goes, if anywhere
  };

  Child& startChild();                       // needs mutex_
  void send(Child& child, Pending& pending); // needs mutex_
  void endChild(Child& child);               // needs mutex_: kills it and stops its writer
  void failRequests(std::uint64_t generation, std::int64_t code, const std::string& why);
  void reapFinishedChildren(); // needs mutex_
  void writeRequests(Child& child);
  void readReplies(Child& child);
  void watchDeadlines();
  bool allChildrenFinished() const; // needs mutex_

  const std::string name_;
  const std::filesystem::path executable_;
  Options options_;

  mutable std::mutex mutex_; // guards everything below and every Child's fields
  std::map<std::uint64_t, Pending> pending_;
  std::list<std::unique_ptr<Child>> children_; // the running one last; ended ones until reaped
  Child* current_ = nullptr;
  std::uint64_t nextId_ = 1;
  std::uint64_t nextGeneration_ = 1;
  unsigned launches_ = 0;
  bool stopping_ = false;
  bool shutdown_ = false;
  std::condition_variable deadlinesChanged_;
  std::condition_variable childFinished_;
  std::thread watchdog_;
};
