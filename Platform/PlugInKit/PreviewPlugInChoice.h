// PreviewPlugInChoice: which registered Quick Look preview plug-in serves a content type, as
// the preview service decides it: the first registered plug-in of the preview extension point
// that supports the type (exactly, else by conformance) and that the user has not switched off.
#pragma once

#include "PlugInKit/PlugInRegistry.h"
#include "UniformTypeIdentifiers/UTType.h"

#include <optional>
#include <string>
#include <vector>

inline constexpr const char* kQuickLookPreviewExtensionPoint = "com.apple.quicklook.preview";

struct PreviewPlugInChoice {
  std::optional<PlugIn> plugIn;    // the plug-in that serves the type, when one does
  std::vector<PlugIn> switchedOff; // plug-ins that support the type but are ignored

  // Why nothing serves `contentType`, with the command that would change it; empty when a
  // plug-in was chosen.
  std::string failureReason(const std::string& contentType) const;
};

PreviewPlugInChoice choosePreviewPlugIn(const RegistryState& state, const UTType& type);

// Makes the type declarations of every registered plug-in and its application known to UTType
// (so that "x.mmd" resolves to the type the application declares). Unreadable Info.plists are
// skipped.
void registerDeclaredTypes(const RegistryState& state);
