// Landlock: the kernel's unprivileged access control, used to make an extension process unable
// to change the file system (every write right handled, no rule granting any), to reach TCP
// ports, to connect to abstract Unix sockets or to signal processes outside its own domain.
// Rights are chosen by the best ABI version the running kernel reports.
#pragma once

namespace Landlock {

// The highest Landlock ABI version the running kernel offers; 0 when it offers none (not built
// in, or not enabled among the kernel's security modules).
int kernelABI();

// Restricts the calling thread (and everything it later executes) for good: with `abi` >= 1, no
// file or folder can be created, written, truncated, renamed, linked or removed anywhere, and
// no device can be sent an ioctl; from ABI 4 no TCP port can be bound or connected to; from ABI
// 6 no abstract Unix socket outside the domain can be reached and no process outside it
// signalled. Reading stays allowed everywhere. Requires no_new_privs (or CAP_SYS_ADMIN).
// Throws std::runtime_error naming the step that failed.
void restrictSelf(int abi);

} // namespace Landlock
