// ExtensionSandbox: what an extension process may do, and the one place that imposes it. The
// launcher (xpcproxy) enters the sandbox in the new process before it executes the extension,
// so no code of the extension, not even its static initialisers, ever runs outside it.
//
// In force for every extension: Landlock (nothing in the file system can be created, changed or
// removed; reading stays allowed everywhere), the seccomp filter of SyscallFilter, no new
// privileges, no capabilities (also when started by root), only standard input, output and error
// open, and the resource limits of Limits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ExtensionSandbox {

// Environment variable that lets extensions run without the file-system sandbox on a kernel
// that has no Landlock; active only when its value is exactly "1".
inline constexpr const char* kAllowUnsandboxedVariable = "LUMIVALE_ALLOW_UNSANDBOXED";
// Environment variable that caps the Landlock ABI used below what the kernel offers ("0" acts
// as a kernel without Landlock). For tests of older kernels' behaviour; it can only weaken the
// sandbox together with kAllowUnsandboxedVariable.
inline constexpr const char* kLandlockABICapVariable = "LUMIVALE_SANDBOX_LANDLOCK_ABI_MAX";

struct Limits {
  // Address space. Large enough for the biggest notebook the extensions accept (see
  // NotebookPreviewProvider::kMaxNotebookBytes) and its parsed tree; a document that needs more
  // fails its preview instead of taking the machine's memory.
  std::uint64_t addressSpaceBytes = std::uint64_t(4) << 30;
  std::uint64_t openFiles = 256;
  // Tasks of the user beyond those running when the extension starts (its threads; new
  // processes are refused by the filter anyway).
  std::uint64_t extraTasks = 256;
};

// The Landlock ABI the sandbox uses here: the kernel's, capped by kLandlockABICapVariable.
int landlockABI();

// Whether the user allows running without the file-system sandbox.
bool unsandboxedAllowed();

// Why extensions cannot be started on this system (no Landlock and not allowed otherwise), or
// nullopt when they can. The text names the variable that overrides it.
std::optional<std::string> refusal();

// Enters the sandbox in the calling process, which must be single-threaded and about to execute
// the extension; standard input, output and error must already be what the extension uses.
// Throws std::runtime_error naming the step that failed: then the extension must not be run.
void enter(const Limits& limits);

} // namespace ExtensionSandbox
