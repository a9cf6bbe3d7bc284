// PlugInRegistry: the per-user plug-in registry. It keeps two things apart: the plug-ins that
// Launch Services registration discovered inside applications (data), and the user's elections
// per plug-in identifier (configuration). Reads are snapshots of atomically replaced files;
// every change is a read-modify-write under the registry lock, so concurrent writers in any
// number of processes never lose one another's changes. One object per thread.
#pragma once

#include "PlugInKit/PlugIn.h"
#include "PlugInKit/RegistryLocation.h"

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct RegistryState {
  std::vector<PlugIn> plugIns;                            // in registration order
  std::map<std::string, Election, std::less<>> elections; // only use and ignore are stored

  // The election for an identifier (the default when none is stored).
  Election electionFor(std::string_view identifier) const;
  bool hasPlugIn(std::string_view identifier) const;

  friend bool operator==(const RegistryState&, const RegistryState&) = default;
};

class PlugInRegistry {
public:
  explicit PlugInRegistry(RegistryLocation location = RegistryLocation::forCurrentUser());

  const RegistryLocation& location() const { return location_; }

  // The registry as stored now. Damaged files are set aside (see RegistryFile::load) and
  // reported in warnings(). Pass `lockHeld` when the caller holds a RegistryLock.
  RegistryState read(bool lockHeld = false);

  // Stores `after` (the caller holds the lock and read `before` under it); only files whose
  // part changed are written. Throws std::system_error when a file cannot be written.
  void write(const RegistryLock& lock, const RegistryState& before, const RegistryState& after);

  // Stores the election for every registered plug-in with `identifier` ("default" removes the
  // stored choice). Returns false, storing nothing, when no registered plug-in has it.
  bool elect(std::string_view identifier, Election election);

  // Problems met while reading (damaged files set aside), for the tool to report.
  const std::vector<std::string>& warnings() const { return warnings_; }
  // The warnings so far, leaving none behind (for callers that read many times).
  std::vector<std::string> takeWarnings() { return std::exchange(warnings_, {}); }

private:
  RegistryLocation location_;
  std::vector<std::string> warnings_;
};
