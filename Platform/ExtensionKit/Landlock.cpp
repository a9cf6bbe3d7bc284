#include "ExtensionKit/Landlock.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The kernel interface, declared here in full: the distribution's headers stop at ABI 2.
struct RulesetAttr {
  std::uint64_t handledAccessFs;
  std::uint64_t handledAccessNet; // ABI 4
  std::uint64_t scoped;           // ABI 6
};
constexpr unsigned kCreateRulesetVersion = 1u << 0;

// File-system rights that change something. The read rights (execute, read file, read
// folder) are left unhandled, so reading stays allowed everywhere.
constexpr std::uint64_t kWriteFile = 1ull << 1;
constexpr std::uint64_t kRemoveDir = 1ull << 4;
constexpr std::uint64_t kRemoveFile = 1ull << 5;
constexpr std::uint64_t kMakeChar = 1ull << 6;
constexpr std::uint64_t kMakeDir = 1ull << 7;
constexpr std::uint64_t kMakeReg = 1ull << 8;
constexpr std::uint64_t kMakeSock = 1ull << 9;
constexpr std::uint64_t kMakeFifo = 1ull << 10;
constexpr std::uint64_t kMakeBlock = 1ull << 11;
constexpr std::uint64_t kMakeSym = 1ull << 12;
constexpr std::uint64_t kRefer = 1ull << 13;                  // ABI 2
constexpr std::uint64_t kTruncate = 1ull << 14;               // ABI 3
constexpr std::uint64_t kIoctlDev = 1ull << 15;               // ABI 5
constexpr std::uint64_t kNetBindTcp = 1ull << 0;              // ABI 4
constexpr std::uint64_t kNetConnectTcp = 1ull << 1;           // ABI 4
constexpr std::uint64_t kScopeAbstractUnixSocket = 1ull << 0; // ABI 6
constexpr std::uint64_t kScopeSignal = 1ull << 1;             // ABI 6

#ifndef SYS_landlock_create_ruleset
#define SYS_landlock_create_ruleset 444
#define SYS_landlock_restrict_self 446
#endif

RulesetAttr rulesetFor(int abi) {
  RulesetAttr attr{};
  if (abi >= 1)
    attr.handledAccessFs = kWriteFile | kRemoveDir | kRemoveFile | kMakeChar | kMakeDir | kMakeReg |
                           kMakeSock | kMakeFifo | kMakeBlock | kMakeSym;
  if (abi >= 2)
    attr.handledAccessFs |= kRefer;
  if (abi >= 3)
    attr.handledAccessFs |= kTruncate;
  if (abi >= 4)
    attr.handledAccessNet = kNetBindTcp | kNetConnectTcp;
  if (abi >= 5)
    attr.handledAccessFs |= kIoctlDev;
  if (abi >= 6)
    attr.scoped = kScopeAbstractUnixSocket | kScopeSignal;
  return attr;
}

// The size of the ruleset attribute that `abi` understands.
std::size_t rulesetSize(int abi) {
  if (abi >= 6)
    return sizeof(RulesetAttr);
  if (abi >= 4)
    return offsetof(RulesetAttr, scoped);
  return offsetof(RulesetAttr, handledAccessNet);
}

[[noreturn]] void fail(const char* step) {
  throw std::runtime_error(std::string("Landlock: ") + step + ": " + std::strerror(errno));
}

} // namespace

int Landlock::kernelABI() {
  const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, kCreateRulesetVersion);
  return abi > 0 ? static_cast<int>(abi) : 0;
}

void Landlock::restrictSelf(int abi) {
  if (abi < 1)
    throw std::runtime_error("Landlock: the kernel does not offer it");
  const RulesetAttr attr = rulesetFor(abi);
  const long ruleset = ::syscall(SYS_landlock_create_ruleset, &attr, rulesetSize(abi), 0u);
  if (ruleset < 0)
    fail("cannot create the ruleset");
  // No rules are added: every handled right is denied everywhere.
  const long restricted = ::syscall(SYS_landlock_restrict_self, ruleset, 0u);
  const int savedErrno = errno;
  ::close(static_cast<int>(ruleset));
  errno = savedErrno;
  if (restricted != 0)
    fail("cannot restrict the process");
}
