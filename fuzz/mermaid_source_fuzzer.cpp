// Fuzzes the Mermaid-source test and fencing. The test agrees with the same diagram-start
// search run plainly over a UTF-16 copy of the text; the fence put around a source is never
// closed by any line of the source (a closing fence: up to three spaces, at least as many fence
// characters, then only blanks), so the whole source stays one diagram block.
#include "FuzzSupport.h"
#include "MarkdownLens/MarkdownPreviewProvider.h"

#include <memory>
#include <unicode/regex.h>

using FuzzSupport::require;

namespace {

constexpr char16_t kDiagramStart[] =
    uR"((?is)^\s*(?:%%\{[\s\S]*?\}%%\s*)?(?:flowchart|graph|sequenceDiagram|classDiagram|stateDiagram(?:-v2)?|erDiagram|journey|gantt|pie|gitGraph|mindmap|timeline|quadrantChart|xychart-beta|block-beta|packet-beta|architecture-beta|sankey-beta|requirementDiagram|C4Context|C4Container|C4Component|C4Dynamic)\b)";

bool slowStartsLikeDiagram(std::string_view text) {
  static const std::unique_ptr<icu::RegexPattern> pattern = [] {
    UParseError parseError;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(icu::UnicodeString(kDiagramStart), 0, parseError, status));
    require(U_SUCCESS(status), "the reference pattern compiles");
    return compiled;
  }();
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString utf16 = icu::UnicodeString::fromUTF8(text);
  std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(utf16, status));
  return matcher->find(status) && U_SUCCESS(status);
}

// True when some line of `text` would close a fence of `length` characters `mark`.
bool closesFence(std::string_view text, char mark, std::size_t length) {
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos)
      end = text.size();
    std::string_view line = text.substr(at, end - at);
    std::size_t i = 0;
    while (i < line.size() && i < 3 && line[i] == ' ')
      ++i;
    std::size_t run = 0;
    while (i < line.size() && line[i] == mark)
      ++i, ++run;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
      ++i;
    if (run >= length && i == line.size())
      return true;
    at = end + 1;
  }
  return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  static constexpr std::string_view kExtensions[] = {"mmd", "mermaid", "MMD", "Mermaid", "md", ""};
  const std::string_view extension = kExtensions[data[0] % 6];
  const std::string_view text = FuzzSupport::bytes(data + 1, size - 1);

  const bool mermaid = MarkdownPreviewProvider::isMermaidSource(extension, text);
  if (extension == "mermaid" || extension == "Mermaid")
    require(mermaid, "a .mermaid file is always a diagram");
  else if (extension == "md" || extension.empty())
    require(!mermaid, "only .mermaid and .mmd files are diagrams");
  else if (size <= 4096)
    require(mermaid == slowStartsLikeDiagram(text), "the .mmd test agrees with a plain search");

  const std::string wrapped = MarkdownPreviewProvider::wrapMermaidSource(text);
  const char mark = wrapped.empty() ? 0 : wrapped[0];
  require(mark == '`' || mark == '~', "the fence is made of backticks or tildes");
  const std::size_t length = wrapped.find_first_not_of(mark);
  require(length >= 3 && length != std::string::npos, "the fence has three characters or more");
  const std::string fence(length, mark);
  require(wrapped == fence + "mermaid\n" + std::string(text) + "\n" + fence,
          "the wrapped text is the fence, the label, the source and the fence");
  require(!closesFence(text, mark, length), "no line of the source closes the fence");
  return 0;
}
