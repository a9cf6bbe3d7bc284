// ExtensionModule: the preview extensions that PreviewCore is built into. A module's name
// qualifies the domains of the extension's own errors ("NotebookLens.HTMLTemplate.Error") and the
// places named in its fatal-error reports. Code that knows which extension it serves (each
// renderer) passes its module explicitly; an extension's entry point declares the module the
// whole process runs, for reports from code that all extensions share.
#pragma once

#include <optional>
#include <string_view>

enum class ExtensionModule { markdownLens, notebookLens };

// "MarkdownLens" or "NotebookLens".
std::string_view moduleName(ExtensionModule module);

// Declares the extension this process runs; called once by the extension's main, before any
// request. Thread-safe.
void declareRunningExtension(ExtensionModule module);

// The module declared by declareRunningExtension; nullopt in other programs (tests, tools).
std::optional<ExtensionModule> runningExtension();
