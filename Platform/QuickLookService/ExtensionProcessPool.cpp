#include "QuickLookService/ExtensionProcessPool.h"

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
  // Each running process is ended through its own handle and what was in flight fails. (Never
  // by a bare pid: a process that already ended has none, and kill(-1) would end everything.)
  for (auto& [path, process] : ended)
    process->terminate("the preview service was reset");
}

std::size_t ExtensionProcessPool::size() {
  std::lock_guard lock(mutex_);
  return processes_.size();
}
