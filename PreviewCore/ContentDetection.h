// ContentDetection: the cheap, line- and pattern-based tests that decide which page assets a
// Markdown text needs (Prism languages, Mermaid, KaTeX). Pure and thread-safe; the tables and
// compiled patterns are built once per process.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ContentDetection {

// True when the text holds three backticks or three tildes in a row anywhere.
bool hasCodeFences(std::string_view markdown);

// The Prism components that the text's fence labels need, with their dependencies, without
// duplicates, ascending by name.
std::vector<std::string> fenceLanguages(std::string_view markdown);

// True for a "::: mermaid" / "::: mmd" container line or a fence labelled mermaid or mmd.
bool hasMermaidBlock(std::string_view markdown);

// True when a "$" appears outside fenced blocks and inline code.
bool hasMathematics(std::string_view markdown);

} // namespace ContentDetection
