#include "PreviewCore/ExtensionModule.h"

#include <cerrno>

std::string_view extensionModuleName() {
  const std::string_view program = program_invocation_short_name;
  return program.starts_with("NotebookLens") ? "NotebookLens" : "MarkdownLens";
}
