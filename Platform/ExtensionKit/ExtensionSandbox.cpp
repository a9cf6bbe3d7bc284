#include "ExtensionKit/ExtensionSandbox.h"

#include "ExtensionKit/Landlock.h"
#include "ExtensionKit/SyscallFilter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/capability.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// Sanitizer runtimes need what the sandbox otherwise denies: terabytes of address space for
// their shadow memory, and (ThreadSanitizer) a scratch file it writes when it may create one.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LUMIVALE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define LUMIVALE_SANITIZED 1
#endif
#endif
#ifndef LUMIVALE_SANITIZED
#define LUMIVALE_SANITIZED 0
#endif
#if defined(__SANITIZE_THREAD__)
#define LUMIVALE_THREAD_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LUMIVALE_THREAD_SANITIZED 1
#endif
#endif
#ifndef LUMIVALE_THREAD_SANITIZED
#define LUMIVALE_THREAD_SANITIZED 0
#endif

namespace {

[[noreturn]] void fail(const std::string& step) {
  throw std::runtime_error(step + ": " + std::strerror(errno));
}

void limit(int resource, rlim_t value, const char* name) {
  struct rlimit current {};
  if (::getrlimit(resource, &current) != 0)
    fail(std::string("cannot read the limit on ") + name);
  // Never raise a limit the user has set lower.
  const rlim_t capped =
      current.rlim_max == RLIM_INFINITY ? value : std::min(value, current.rlim_max);
  const struct rlimit wanted { capped, capped };
  if (::setrlimit(resource, &wanted) != 0)
    fail(std::string("cannot limit ") + name);
}

// Tasks running on the whole system (an upper bound of the user's own), from /proc/loadavg's
// "running/total" field; 0 when it cannot be read.
std::uint64_t systemTasks() {
  std::FILE* file = std::fopen("/proc/loadavg", "re");
  if (!file)
    return 0;
  double load[3];
  unsigned long running = 0, total = 0;
  const int fields =
      std::fscanf(file, "%lf %lf %lf %lu/%lu", &load[0], &load[1], &load[2], &running, &total);
  std::fclose(file);
  return fields == 5 ? total : 0;
}

// The process keeps no capability, also when started by root: none is kept through execve once
// the bounding set is empty, and none is inherited or ambient.
void dropCapabilities() {
  for (int cap = 0; cap <= 63; ++cap)
    if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno != EINVAL && errno != EPERM)
      fail("cannot drop capabilities");
  ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (::syscall(SYS_capset, &header, data) != 0)
    fail("cannot clear capabilities");
}

} // namespace

int ExtensionSandbox::landlockABI() {
  int abi = Landlock::kernelABI();
  if (const char* cap = std::getenv(kLandlockABICapVariable); cap && *cap) {
    char* end = nullptr;
    const long value = std::strtol(cap, &end, 10);
    if (*end == '\0' && value >= 0)
      abi = std::min<long>(abi, value);
  }
  return abi;
}

bool ExtensionSandbox::unsandboxedAllowed() {
  const char* value = std::getenv(kAllowUnsandboxedVariable);
  return value && std::string(value) == "1";
}

std::optional<std::string> ExtensionSandbox::refusal() {
  if (landlockABI() >= 1 || unsandboxedAllowed())
    return std::nullopt;
  return std::string("This system's kernel does not offer Landlock, which the extension sandbox "
                     "needs to keep previews from changing files, so no preview extension is "
                     "started. Set ") +
         kAllowUnsandboxedVariable + "=1 to run them without it.";
}

void ExtensionSandbox::enter(const Limits& limits) {
  // Only the request and reply pipes and standard error stay open.
  if (::syscall(SYS_close_range, 3u, ~0u, 0u) != 0) {
    if (errno != ENOSYS)
      fail("cannot close inherited descriptors");
    // Kernels before 5.9: one by one, up to the descriptor limit.
    const long last = ::sysconf(_SC_OPEN_MAX);
    for (long fd = 3; fd < (last > 0 ? last : 65536); ++fd)
      ::close(static_cast<int>(fd));
  }

  limit(RLIMIT_CORE, 0, "core dumps");
#if !LUMIVALE_THREAD_SANITIZED
  limit(RLIMIT_FSIZE, 0, "file sizes");
#endif
  limit(RLIMIT_NOFILE, limits.openFiles, "open files");
  limit(RLIMIT_NPROC, systemTasks() + limits.extraTasks, "tasks");
#if !LUMIVALE_SANITIZED
  limit(RLIMIT_AS, limits.addressSpaceBytes, "the address space");
#endif

  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
    fail("cannot set no_new_privs");
  dropCapabilities();

  const int abi = landlockABI();
  if (abi >= 1)
    Landlock::restrictSelf(abi);
  else if (!unsandboxedAllowed())
    throw std::runtime_error(*refusal());

  SyscallFilter::install(::getpid());
}
