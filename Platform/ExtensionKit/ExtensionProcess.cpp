#include "ExtensionKit/ExtensionProcess.h"

#include "ExtensionKit/ExtensionSandbox.h"
#include "ExtensionKit/SpawnThread.h"
#include "QuickLook/PreviewServiceError.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kReplyPipeSize = 1 << 20;
// How long an extension whose input was closed, with nothing left to answer, may take to exit.
constexpr auto kExitGrace = std::chrono::seconds(2);

std::string secondsText(std::chrono::milliseconds duration) {
  const auto ms = duration.count();
  if (ms % 1000 == 0)
    return std::to_string(ms / 1000) + " s";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000);
  return text;
}

void warnUnsandboxedOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::fprintf(stderr,
                 "warning: preview extensions run without the file-system sandbox: this "
                 "kernel does not offer Landlock and %s=1 allows it\n",
                 ExtensionSandbox::kAllowUnsandboxedVariable);
  });
}

} // namespace

// One started process with its pipes and threads. Its fields are guarded by the owner's mutex.
struct ExtensionProcess::Child {
  std::uint64_t generation = 0;
  pid_t pid = -1;
  int pidfd = -1;  // signals reach this process even after its id has been reused
  int input = -1;  // its request pipe; written and closed by the writer thread
  int output = -1; // its reply pipe; read and closed by the reader thread
  std::deque<std::string> queue;
  std::condition_variable wake; // the writer waits for frames or for closing
  bool closing = false;         // no more requests: close the pipe once the queue is written
  bool ended = false;           // crashed, quit, or ended by us
  bool timedOut = false;        // ended because a request got no reply in time
  bool readerDone = false, writerDone = false;
  std::thread reader, writer;

  // Ends the process; nothing once it has been reaped.
  void kill() const {
    if (pidfd >= 0)
      ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
    else if (pid > 0)
      ::kill(pid, SIGKILL);
  }
};

fs::path ExtensionProcessOptions::findLauncher(const fs::path& extensionExecutable) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path besideSelf = (ec ? fs::current_path() : self.parent_path()) / "xpcproxy";
  if (::access(besideSelf.c_str(), X_OK) == 0)
    return besideSelf;
  fs::path folder = fs::absolute(extensionExecutable, ec);
  // Up from <Name> to MacOS, Contents, <Name>.appex, PlugIns, Contents, <App>.app, <folder>.
  for (int level = 0; level < 7; ++level)
    folder = folder.parent_path();
  const fs::path besideApp = folder / "xpcproxy";
  return ::access(besideApp.c_str(), X_OK) == 0 ? besideApp : besideSelf;
}

ExtensionProcess::ExtensionProcess(std::string name, fs::path executable, Options options)
    : name_(std::move(name)), executable_(std::move(executable)), options_(std::move(options)) {
  if (options_.launcher.empty())
    options_.launcher = ExtensionProcessOptions::findLauncher(executable_);
  {
    std::lock_guard lock(mutex_);
    startChild();
  }
  watchdog_ = std::thread([this] { watchDeadlines(); });
}

ExtensionProcess::~ExtensionProcess() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  for (auto& child : children_) {
    child->closing = true; // end of input: the extension answers what is in flight and exits
    child->wake.notify_all();
  }
  // Requests still in flight are bound by their time-outs (the watchdog ends their process);
  // once none is left, an extension that does not exit within the grace period is ended.
  std::optional<Clock::time_point> graceEnd;
  while (!allChildrenFinished()) {
    if (pending_.empty() && !graceEnd)
      graceEnd = Clock::now() + kExitGrace;
    if (graceEnd && Clock::now() >= *graceEnd)
      for (auto& child : children_)
        if (!child->readerDone)
          child->kill();
    childFinished_.wait_for(lock, std::chrono::milliseconds(50));
  }
  shutdown_ = true;
  deadlinesChanged_.notify_all();
  lock.unlock();
  watchdog_.join();
  for (auto& child : children_) {
    child->reader.join();
    child->writer.join();
  }
}

ExtensionProcess::Child& ExtensionProcess::startChild() {
  reapFinishedChildren();
  auto cannotStart = [&](const std::string& why) {
    return std::runtime_error("The preview extension " + name_ + " cannot be started: " + why);
  };
  if (std::optional<std::string> refusal = ExtensionSandbox::refusal())
    throw cannotStart(*refusal);
  if (ExtensionSandbox::landlockABI() < 1)
    warnUnsandboxedOnce();
  if (::access(options_.launcher.c_str(), X_OK) != 0)
    throw cannotStart("its sandbox launcher " + options_.launcher.string() + " is missing.");
  if (::access(executable_.c_str(), X_OK) != 0)
    throw cannotStart(executable_.string() + " is missing.");

  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0)
    throw cannotStart(std::string("no pipe: ") + std::strerror(errno));
  if (::pipe2(out, O_CLOEXEC) != 0) {
    const int err = errno;
    ::close(in[0]);
    ::close(in[1]);
    throw cannotStart(std::string("no pipe: ") + std::strerror(err));
  }
  // Replies carry whole pages: a large pipe buffer means far fewer trips through the kernel.
  // Best effort; the default size only costs speed.
  ::fcntl(out[0], F_SETPIPE_SZ, kReplyPipeSize);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  const std::string launcher = options_.launcher.string();
  const std::string executable = executable_.string();
  // The launcher has the extension die with this process (it names its parent so that it can
  // tell when it was orphaned before it asked).
  std::string parent = std::to_string(::getpid());
  char parentOption[] = "--parent";
  char* argv[] = {const_cast<char*>(launcher.c_str()), parentOption, parent.data(),
                  const_cast<char*>(executable.c_str()), nullptr};
  // The extension starts with no signal blocked and every signal at its default action,
  // whatever the starting thread of the host had set.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int error = SpawnThread::run(
      [&] { return ::posix_spawn(&pid, launcher.c_str(), &actions, &attributes, argv, environ); });
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  if (error != 0) {
    ::close(in[1]);
    ::close(out[0]);
    throw cannotStart(launcher + ": " + std::strerror(error));
  }

  auto child = std::make_unique<Child>();
  child->generation = nextGeneration_++;
  child->pid = pid;
  child->pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  child->input = in[1];
  child->output = out[0];
  Child& started = *child;
  children_.push_back(std::move(child));
  started.writer = std::thread([this, &started] { writeRequests(started); });
  started.reader = std::thread([this, &started] { readReplies(started); });
  current_ = &started;
  ++launches_;
  if (options_.onLaunch)
    options_.onLaunch(pid);
  return started;
}

void ExtensionProcess::reapFinishedChildren() {
  for (auto it = children_.begin(); it != children_.end();) {
    Child& child = **it;
    if (child.readerDone && child.writerDone && &child != current_) {
      // Both threads have left the lock for good; joining only waits for them to return.
      child.reader.join();
      child.writer.join();
      it = children_.erase(it);
    } else {
      ++it;
    }
  }
}

bool ExtensionProcess::allChildrenFinished() const {
  for (const auto& child : children_)
    if (!child->readerDone || !child->writerDone)
      return false;
  return true;
}

std::future<PreviewWire::Reply>
ExtensionProcess::request(const std::string& path,
                          std::shared_ptr<PreviewWire::PageFile> pageFile) {
  std::lock_guard lock(mutex_);
  const std::uint64_t id = nextId_++;
  Pending pending;
  pending.pageFile = std::move(pageFile);
  std::future<PreviewWire::Reply> future = pending.promise.get_future();
  try {
    pending.frame = PreviewWire::encodeRequest({id, path});
  } catch (const std::exception& e) {
    pending.promise.set_value(PreviewWire::errorReply(
        id, makeServiceError(PreviewServiceError::unsendableRequest, e.what())));
    return future;
  }
  Child* child = current_;
  if (!child || child->ended) {
    try {
      child = &startChild();
    } catch (const std::exception& e) {
      pending.promise.set_value(
          PreviewWire::errorReply(id, NSError{kPreviewServiceErrorDomain, kCannotStart, e.what()}));
      return future;
    }
  }
  auto [it, inserted] = pending_.emplace(id, std::move(pending));
  send(*child, it->second);
  return future;
}

void ExtensionProcess::send(Child& child, Pending& pending) {
  pending.generation = child.generation;
  pending.deadline = Clock::now() + options_.timeout;
  child.queue.push_back(pending.frame);
  child.wake.notify_one();
  deadlinesChanged_.notify_one();
}

void ExtensionProcess::endChild(Child& child) {
  if (!child.ended)
    child.kill();
  child.ended = true;
  child.closing = true;
  child.queue.clear();
  child.wake.notify_all();
  if (current_ == &child)
    current_ = nullptr;
}

void ExtensionProcess::failRequests(std::uint64_t generation, std::int64_t code,
                                    const std::string& why) {
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->second.generation == generation) {
      it->second.promise.set_value(
          PreviewWire::errorReply(it->first, NSError{kPreviewServiceErrorDomain, code, why}));
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
}

void ExtensionProcess::terminate(const std::string& why) {
  std::lock_guard lock(mutex_);
  for (auto& child : children_)
    if (!child->ended) {
      endChild(*child);
      failRequests(child->generation, kExtensionEnded, why);
    }
}

pid_t ExtensionProcess::pid() const {
  std::lock_guard lock(mutex_);
  return current_ ? current_->pid : -1;
}

unsigned ExtensionProcess::launches() const {
  std::lock_guard lock(mutex_);
  return launches_;
}

void ExtensionProcess::writeRequests(Child& child) {
  // A write to a process that has gone away fails with EPIPE instead of signalling the host.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  std::unique_lock lock(mutex_);
  for (;;) {
    child.wake.wait(lock, [&] { return !child.queue.empty() || child.closing; });
    if (child.queue.empty())
      break;
    const std::string frame = std::move(child.queue.front());
    child.queue.pop_front();
    lock.unlock();
    const bool written = PreviewWire::writeAll(child.input, frame);
    lock.lock();
    if (!written)
      break; // the process is gone: the reader reports it
  }
  ::close(child.input);
  child.input = -1;
  child.writerDone = true;
  childFinished_.notify_all();
}

namespace {

// How the process ended, once it closed its reply pipe. It is given a moment to exit, then
// ended; the process is reaped either way.
std::string exitDescription(pid_t pid, int pidfd) {
  const auto deadline = Clock::now() + kExitGrace;
  int status = 0;
  pid_t done = 0;
  while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
    // The process descriptor becomes readable when the process exits; without one, look again
    // shortly.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd exited{pidfd, POLLIN, 0};
    if (pidfd < 0 || ::poll(&exited, 1, static_cast<int>(std::clamp<long>(left, 0, 1000))) < 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (done == 0) {
    if (pidfd < 0 || ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) != 0)
      ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
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

} // namespace

void ExtensionProcess::readReplies(Child& child) {
  std::string problem;
  try {
    // A page goes into the request's page file only while the request is still waiting for
    // this process's answer.
    const PreviewWire::PageDestination destination = [&](std::uint64_t id) {
      std::lock_guard lock(mutex_);
      auto it = pending_.find(id);
      if (it == pending_.end() || it->second.generation != child.generation || !it->second.pageFile)
        return PreviewWire::PageFile::Claim{};
      return PreviewWire::PageFile::claim(it->second.pageFile);
    };
    while (auto received =
               PreviewWire::readReply(child.output, PreviewWire::kMaxReplyPayload, destination)) {
      std::lock_guard lock(mutex_);
      auto it = pending_.find(received->id);
      // A reply to nothing asked of this process (or already timed out) is dropped.
      if (it == pending_.end() || it->second.generation != child.generation)
        continue;
      it->second.promise.set_value(std::move(*received));
      pending_.erase(it);
    }
  } catch (const PreviewWire::WireError& e) {
    problem = std::string(": it sent a malformed reply (") + e.what() + ")";
    std::lock_guard lock(mutex_);
    child.kill();
  }
  const std::string how = exitDescription(child.pid, child.pidfd);
  ::close(child.output);

  std::lock_guard lock(mutex_);
  child.output = -1;
  if (child.pidfd >= 0)
    ::close(child.pidfd);
  child.pidfd = -1;
  child.pid = -1; // reaped: its id may belong to another process now
  endChild(child);
  failRequests(child.generation, kExtensionEnded,
               "The preview extension " + name_ + " " + how + problem + " before answering.");
  child.readerDone = true;
  childFinished_.notify_all();
}

void ExtensionProcess::watchDeadlines() {
  std::unique_lock lock(mutex_);
  while (!shutdown_) {
    std::optional<Clock::time_point> next;
    for (const auto& [id, pending] : pending_)
      if (!next || pending.deadline < *next)
        next = pending.deadline;
    if (next)
      deadlinesChanged_.wait_until(lock, *next);
    else
      deadlinesChanged_.wait(lock);

    const auto now = Clock::now();
    std::set<std::uint64_t> hung;
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (it->second.deadline > now) {
        ++it;
        continue;
      }
      hung.insert(it->second.generation);
      it->second.promise.set_value(PreviewWire::errorReply(
          it->first, NSError{kPreviewServiceErrorDomain, kTimedOut,
                             "The preview extension " + name_ + " did not answer within " +
                                 secondsText(options_.timeout) + "; it was ended."}));
      it = pending_.erase(it);
    }
    for (std::uint64_t generation : hung) {
      for (auto& child : children_)
        if (child->generation == generation && !child->ended) {
          child->timedOut = true;
          endChild(*child);
        }
      // The other requests in flight in that process go to a new one.
      std::vector<std::uint64_t> others;
      for (const auto& [id, pending] : pending_)
        if (pending.generation == generation)
          others.push_back(id);
      if (others.empty())
        continue;
      if (stopping_) {
        failRequests(generation, kExtensionEnded,
                     "The preview extension " + name_ + " was ended while the service stopped.");
        continue;
      }
      try {
        Child& replacement = startChild();
        for (std::uint64_t id : others)
          send(replacement, pending_.at(id));
      } catch (const std::exception& e) {
        failRequests(generation, kCannotStart, e.what());
      }
    }
  }
}
