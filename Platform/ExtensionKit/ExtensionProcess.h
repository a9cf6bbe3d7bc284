// ExtensionProcess: one running preview extension, started once and reused for many requests.
// Requests may be sent from several threads; a reader thread matches replies to requests by
// id. When the process dies, every request in flight (and every later one) fails with an error
// that says so. Destroying the object closes the request pipe and reaps the process.
#pragma once

#include "QuickLook/PreviewWire.h"

#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>

class ExtensionProcess {
public:
  // Starts the executable with pipes on its standard input and output. Throws
  // std::runtime_error when it cannot be started.
  ExtensionProcess(std::string name, const std::filesystem::path& executable);
  ~ExtensionProcess();
  ExtensionProcess(const ExtensionProcess&) = delete;
  ExtensionProcess& operator=(const ExtensionProcess&) = delete;

  // Sends one request; the future yields its reply (possibly an error reply).
  std::future<PreviewWire::Reply> request(const std::string& path);

  pid_t pid() const { return pid_; }
  const std::string& name() const { return name_; }

private:
  void readReplies();
  // Fails every pending request and every later one; `why` completes "The preview extension ".
  void failAll(const std::string& why);
  std::string exitDescription();

  std::string name_;
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  std::mutex mutex_; // guards pending_, nextId_, deadReason_ and writes to toChild_
  std::map<std::uint64_t, std::promise<PreviewWire::Reply>> pending_;
  std::uint64_t nextId_ = 1;
  std::optional<std::string> deadReason_;
  std::thread reader_;
};
