// ExtensionModule: the name of the preview extension this process runs ("MarkdownLens" or
// "NotebookLens"), which qualifies the domains of the extensions' own errors and the places
// named in their fatal-error reports.
#pragma once

#include <string_view>

// "NotebookLens" when the running program is the notebook extension (or one of its test
// programs), "MarkdownLens" otherwise.
std::string_view extensionModuleName();
