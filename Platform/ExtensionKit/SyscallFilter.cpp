#include "ExtensionKit/SyscallFilter.h"

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <sched.h>
#include <seccomp.h>
#include <stdexcept>
#include <string>

namespace {

using Context = std::unique_ptr<void, void (*)(scmp_filter_ctx)>;

// Calls refused outright. Several only exist on some architectures; those the library does not
// know for this one are skipped.
constexpr const char* kRefused[] = {
    // sockets of every family, and what one would do with an inherited one
    "socket", "socketpair", "connect", "bind", "listen", "accept", "accept4", "socketcall",
    // other processes: tracing, their memory and descriptors, starting new ones
    "ptrace", "process_vm_readv", "process_vm_writev", "pidfd_open", "pidfd_getfd",
    "pidfd_send_signal", "tkill", "fork", "vfork", "kcmp", "perf_event_open",
    // namespaces and mounts
    "unshare", "setns", "mount", "umount2", "pivot_root", "chroot", "open_tree", "move_mount",
    "fsopen", "fsmount", "fsconfig", "fspick", "mount_setattr",
    // kernel keys, BPF, io_uring (its socket and file operations bypass this filter)
    "keyctl", "add_key", "request_key", "bpf", "io_uring_setup", "io_uring_enter",
    "io_uring_register", "userfaultfd",
    // file metadata, which the file-system sandbox does not cover; truncate by path, which it
    // covers only from Landlock ABI 3
    "chmod", "fchmod", "fchmodat", "chown", "fchown", "lchown", "fchownat", "utime", "utimes",
    "futimesat", "utimensat", "setxattr", "lsetxattr", "fsetxattr", "removexattr", "lremovexattr",
    "fremovexattr", "truncate",
    // modules, reboot, system clock and accounting need privileges the process does not have;
    // refused all the same
    "init_module", "finit_module", "delete_module", "kexec_load", "kexec_file_load", "reboot",
    "acct", "swapon", "swapoff", "settimeofday", "clock_settime", "adjtimex", "clock_adjtime"};

// Newer calls the library of the build machine may not name yet, by their number (the same on
// every architecture since the numbers were unified).
struct NumberedCall {
  const char* name;
  int number;
};
constexpr NumberedCall kRefusedByNumber[] = {
    {"fchmodat2", 452}, {"setxattrat", 463}, {"removexattrat", 466}};

// Namespace flags that clone() must not carry.
constexpr unsigned long kNamespaceFlags[] = {CLONE_NEWNS,    CLONE_NEWUTS, CLONE_NEWIPC,
                                             CLONE_NEWUSER,  CLONE_NEWPID, CLONE_NEWNET,
                                             CLONE_NEWCGROUP};

[[noreturn]] void fail(const std::string& step, int rc) {
  throw std::runtime_error("seccomp: " + step + ": " + std::strerror(-rc));
}

void check(int rc, const std::string& step) {
  if (rc < 0)
    fail(step, rc);
}

} // namespace

void SyscallFilter::install(pid_t self) {
  Context ctx(seccomp_init(SCMP_ACT_ALLOW), seccomp_release);
  if (!ctx)
    throw std::runtime_error("seccomp: cannot create a filter");
  scmp_filter_ctx filter = ctx.get();
  const std::uint32_t deny = SCMP_ACT_ERRNO(EPERM);

  for (const char* name : kRefused) {
    const int call = seccomp_syscall_resolve_name(name);
    if (call == __NR_SCMP_ERROR || call < 0)
      continue; // not a call of this architecture
    check(seccomp_rule_add(filter, deny, call, 0), std::string("refusing ") + name);
  }
  for (const NumberedCall& call : kRefusedByNumber) {
    const int known = seccomp_syscall_resolve_name(call.name);
    check(seccomp_rule_add(filter, deny, known >= 0 ? known : call.number, 0),
          std::string("refusing ") + call.name);
  }

  // Threads only: a clone without CLONE_THREAD starts a process, and no clone may enter new
  // namespaces. clone3 passes its flags in memory the filter cannot read, so it reports
  // itself missing and the C library falls back to clone.
  const int clone = SCMP_SYS(clone);
  check(seccomp_rule_add(filter, deny, clone, 1, SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)),
        "refusing clone without CLONE_THREAD");
  for (unsigned long flag : kNamespaceFlags)
    check(seccomp_rule_add(filter, deny, clone, 1, SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)),
          "refusing clone into a namespace");
  const int clone3 = seccomp_syscall_resolve_name("clone3");
  check(seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), clone3 >= 0 ? clone3 : 435, 0),
        "refusing clone3");

  // Signals: to itself only (raise and abort use tgkill with the process's own id).
  const auto own = static_cast<scmp_datum_t>(self);
  for (const char* name : {"kill", "tgkill", "rt_sigqueueinfo", "rt_tgsigqueueinfo"}) {
    const int call = seccomp_syscall_resolve_name(name);
    if (call < 0)
      continue;
    check(seccomp_rule_add(filter, deny, call, 1, SCMP_A0(SCMP_CMP_NE, own)),
          std::string("limiting ") + name);
  }

  check(seccomp_attr_set(filter, SCMP_FLTATR_CTL_NNP, 1), "setting no_new_privs");
  check(seccomp_load(filter), "loading the filter");
}
