#include "MarkdownLens/MarkdownPreviewProvider.h"

#include "Foundation/ASCII.h"
#include "Foundation/Bundle.h"
#include "Foundation/FileRead.h"
#include "MarkdownLens/MarkdownRenderer.h"
#include "PreviewCore/Graphemes.h"
#include "PreviewCore/ICUText.h"
#include "PreviewCore/InlineLocalAssets.h"
#include "PreviewCore/PreviewReplyBuilder.h"

#include <algorithm>
#include <unicode/regex.h>

namespace {

// Optional white space, an optional %%{...}%% directive, then a diagram keyword.
constexpr std::string_view kDiagramStartPattern =
    R"((?is)^\s*(?:%%\{[\s\S]*?\}%%\s*)?(?:flowchart|graph|sequenceDiagram|classDiagram|stateDiagram(?:-v2)?|erDiagram|journey|gantt|pie|gitGraph|mindmap|timeline|quadrantChart|xychart-beta|block-beta|packet-beta|architecture-beta|sankey-beta|requirementDiagram|C4Context|C4Container|C4Component|C4Dynamic)\b)";
static_assert(kDiagramStartPattern.size() == 301);

const icu::RegexPattern& diagramStartPattern() {
  static const std::unique_ptr<icu::RegexPattern> pattern = compileICUPattern(kDiagramStartPattern);
  return *pattern;
}

// The longest run of clusters equal to `mark` (a cluster with a combining mark on it differs).
std::size_t longestClusterRun(std::string_view text, std::string_view mark) {
  std::size_t longest = 0, current = 0;
  Graphemes::forEachGraphemeCluster(text, [&](std::string_view cluster) {
    current = cluster == mark ? current + 1 : 0;
    longest = std::max(longest, current);
    return true;
  });
  return longest;
}

} // namespace

bool MarkdownPreviewProvider::isMermaidSource(std::string_view pathExtension,
                                              std::string_view text) {
  if (ASCII::equalsIgnoringCase(pathExtension, "mermaid"))
    return true;
  if (!ASCII::equalsIgnoringCase(pathExtension, "mmd"))
    return false;
  ICUText utext(text);
  std::unique_ptr<icu::RegexMatcher> matcher = makeICUMatcher(diagramStartPattern(), utext);
  UErrorCode status = U_ZERO_ERROR;
  return matcher->find(status) && U_SUCCESS(status);
}

std::string MarkdownPreviewProvider::wrapMermaidSource(std::string_view text) {
  const std::size_t backticks = longestClusterRun(text, "`");
  const std::size_t tildes = longestClusterRun(text, "~");
  const bool useTilde = backticks > tildes;
  const std::size_t length = std::max<std::size_t>(3, (useTilde ? tildes : backticks) + 1);
  const std::string fence(length, useTilde ? '~' : '`');
  std::string out;
  out.reserve(text.size() + 2 * length + 10);
  out += fence;
  out += "mermaid\n";
  out += text;
  out += '\n';
  out += fence;
  return out;
}

QLPreviewReply MarkdownPreviewProvider::providePreview(const QLFilePreviewRequest& request) {
  const std::string text = readUTF8Text(request.fileURL);
  std::string markdown;
  QLPreviewReplyAttachments attachments;
  if (isMermaidSource(request.fileURL.pathExtension(), text)) {
    markdown = wrapMermaidSource(text);
  } else {
    InlineLocalAssets::MarkdownResult result = InlineLocalAssets::rewriteMarkdownImages(
        text, request.fileURL.deletingLastPathComponent(),
        InlineLocalAssets::boundedFileReader(kPerImageByteCap), kPerImageByteCap,
        kCumulativeByteCap);
    markdown = std::move(result.markdown);
    attachments = PreviewReplyBuilder::replyAttachments(result.attachments);
  }
  std::string html = MarkdownRenderer::renderHTML(markdown, Bundle::main());
  return PreviewReplyBuilder::makeReply(std::move(html), std::move(attachments), request.fileURL,
                                        kContentSize);
}
