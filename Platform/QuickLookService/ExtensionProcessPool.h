// ExtensionProcessPool: one warm process per preview extension, started on first use and kept
// for the next requests. A process that died is discarded by whoever saw it die, so the next
// request starts a fresh one; endAll() ends every process (their requests in flight fail).
// Thread-safe; callers hold the processes they use through shared pointers.
#pragma once

#include "ExtensionKit/ExtensionCatalog.h"
#include "ExtensionKit/ExtensionProcess.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

class ExtensionProcessPool {
public:
  // The extension's running process, started now if there is none. Throws std::runtime_error
  // when it cannot be started.
  std::shared_ptr<ExtensionProcess> processFor(const PreviewExtension& extension);
  // Forgets `process` if it is still the one in use for its extension.
  void discard(const std::shared_ptr<ExtensionProcess>& process);
  // Kills every process and forgets them all.
  void endAll();
  std::size_t size();

private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<ExtensionProcess>> processes_; // by executable path
};
