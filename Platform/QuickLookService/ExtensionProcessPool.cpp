#include "QuickLookService/ExtensionProcessPool.h"

#include <csignal>
#include <vector>

std::shared_ptr<ExtensionProcess>
ExtensionProcessPool::processFor(const PreviewExtension& extension) {
  std::lock_guard lock(mutex_);
  auto& slot = processes_[extension.executable.string()];
  if (!slot)
    slot = std::make_shared<ExtensionProcess>(extension.name, extension.executable);
  return slot;
}

void ExtensionProcessPool::discard(const std::shared_ptr<ExtensionProcess>& process) {
  std::shared_ptr<ExtensionProcess> released; // destroyed outside the lock
  std::lock_guard lock(mutex_);
  for (auto it = processes_.begin(); it != processes_.end(); ++it)
    if (it->second == process) {
      released = std::move(it->second);
      processes_.erase(it);
      return;
    }
}

void ExtensionProcessPool::endAll() {
  std::map<std::string, std::shared_ptr<ExtensionProcess>> ended;
  {
    std::lock_guard lock(mutex_);
    ended.swap(processes_);
  }
  // Killed, each process's reader sees its output end and fails what was in flight. Only a
  // running process: one that already ended has no pid (-1), and kill(-1) would end every
  // process the server may signal.
  for (auto& [path, process] : ended)
    if (const pid_t pid = process->pid(); pid > 0)
      ::kill(pid, SIGKILL);
}

std::size_t ExtensionProcessPool::size() {
  std::lock_guard lock(mutex_);
  return processes_.size();
}
