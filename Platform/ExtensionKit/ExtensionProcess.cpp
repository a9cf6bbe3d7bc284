#include "ExtensionKit/ExtensionProcess.h"

#include "QuickLook/PreviewServiceError.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
constexpr int kReplyPipeSize = 1 << 20;
} // namespace

ExtensionProcess::ExtensionProcess(std::string name, const std::filesystem::path& executable)
    : name_(std::move(name)) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
  }
  // Replies carry whole pages: a large pipe buffer means far fewer trips through the kernel.
  // Best effort; the default size only costs speed.
  ::fcntl(out[0], F_SETPIPE_SZ, kReplyPipeSize);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  const std::string path = executable.string();
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  const int error = ::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  if (error != 0) {
    ::close(in[1]);
    ::close(out[0]);
    throw std::runtime_error("cannot start the preview extension " + name_ + " (" + path +
                             "): " + std::strerror(error));
  }
  toChild_ = in[1];
  fromChild_ = out[0];
  reader_ = std::thread([this] { readReplies(); });
}

ExtensionProcess::~ExtensionProcess() {
  {
    std::lock_guard lock(mutex_);
    if (toChild_ >= 0)
      ::close(toChild_); // end of input: the extension answers what is in flight and exits
    toChild_ = -1;
  }
  reader_.join();
  ::close(fromChild_);
}

std::future<PreviewWire::Reply> ExtensionProcess::request(const std::string& path) {
  std::promise<PreviewWire::Reply> promise;
  std::future<PreviewWire::Reply> future = promise.get_future();
  std::lock_guard lock(mutex_);
  const std::uint64_t id = nextId_++;
  if (deadReason_ || toChild_ < 0) {
    promise.set_value(PreviewWire::errorReply(
        id, makeServiceError(PreviewServiceError::extensionUnavailable,
                             deadReason_.value_or(name_ + " is not running."))));
    return future;
  }
  std::string frame;
  try {
    frame = PreviewWire::encodeRequest({id, path});
  } catch (const std::exception& e) {
    promise.set_value(PreviewWire::errorReply(
        id, makeServiceError(PreviewServiceError::unsendableRequest, e.what())));
    return future;
  }
  pending_.emplace(id, std::move(promise));
  if (!PreviewWire::writeAll(toChild_, frame)) {
    // The reader notices the death and fails this request with the others.
    ::close(toChild_);
    toChild_ = -1;
  }
  return future;
}

void ExtensionProcess::readReplies() {
  std::string problem;
  try {
    while (auto received = PreviewWire::readReply(fromChild_, PreviewWire::kMaxReplyPayload)) {
      PreviewWire::Reply& reply = *received;
      std::lock_guard lock(mutex_);
      auto it = pending_.find(reply.id);
      if (it == pending_.end())
        continue; // a reply to nothing we asked: ignore it
      it->second.set_value(std::move(reply));
      pending_.erase(it);
    }
  } catch (const PreviewWire::WireError& e) {
    problem = std::string(": it sent a malformed reply (") + e.what() + ")";
    ::kill(pid_, SIGKILL);
  }
  failAll(name_ + " " + exitDescription() + problem + " before answering.");
}

void ExtensionProcess::failAll(const std::string& why) {
  std::lock_guard lock(mutex_);
  deadReason_ = why;
  for (auto& [id, promise] : pending_)
    promise.set_value(PreviewWire::errorReply(
        id, makeServiceError(PreviewServiceError::extensionUnavailable, why)));
  pending_.clear();
}

std::string ExtensionProcess::exitDescription() {
  // The extension closed its output: it is exiting. Give it a moment, then make sure.
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + seconds(2);
  int status = 0;
  pid_t done = 0;
  while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && steady_clock::now() < deadline)
    std::this_thread::sleep_for(milliseconds(5));
  if (done == 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    return "stopped answering";
  }
  if (done < 0)
    return "ended";
  if (WIFSIGNALED(status))
    return std::string("crashed (") + strsignal(WTERMSIG(status)) + ")";
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    return "quit with status " + std::to_string(WEXITSTATUS(status));
  return "quit";
}
