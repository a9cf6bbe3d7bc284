// SyscallFilter: the seccomp filter of an extension process. Calls an extension never needs,
// and that would let it reach past its sandbox, fail with EPERM: sockets of every family,
// tracing and reading other processes, namespaces, kernel keys, BPF, io_uring (whose operations
// seccomp cannot see), changing file metadata, starting processes, and signalling any process
// but itself.
#pragma once

#include <sys/types.h>

namespace SyscallFilter {

// Loads the filter into the calling thread; it stays in force across execve. `self` is the
// process's own id, the only one it may signal (it keeps its id across execve). Throws
// std::runtime_error when the filter cannot be built or loaded.
void install(pid_t self);

} // namespace SyscallFilter
