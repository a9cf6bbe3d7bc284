// SpawnThread: one thread, alive as long as the process, that starts child processes for
// everyone. A child asks to die with its parent (PR_SET_PDEATHSIG), and the kernel takes
// "parent" to be the thread that started it: children started from short-lived request threads
// would be killed when those threads end. Thread-safe; the thread is never joined.
#pragma once

#include <functional>

namespace SpawnThread {

// Runs `spawn` (which starts a process and returns its result) on the spawning thread and
// waits for it.
int run(const std::function<int()>& spawn);

} // namespace SpawnThread
