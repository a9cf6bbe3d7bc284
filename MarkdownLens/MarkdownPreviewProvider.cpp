#include "MarkdownLens/MarkdownPreviewProvider.h"

#include "Foundation/ASCII.h"
#include "Foundation/Bundle.h"
#include "Foundation/ByteCount.h"
#include "Foundation/FileRead.h"
#include "Foundation/NSError.h"
#include "Foundation/UTF8.h"
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

// The length of `text` without a UTF-8 sequence cut short at its end.
std::size_t lastCharacterBoundary(std::string_view text) {
  std::size_t end = text.size();
  std::size_t back = 0;
  while (back < 4 && back < end &&
         (static_cast<unsigned char>(text[end - 1 - back]) & 0xC0) == 0x80)
    ++back;
  if (back < end) {
    const auto lead = static_cast<unsigned char>(text[end - 1 - back]);
    const std::size_t length = lead < 0x80    ? 1
                               : lead >= 0xF0 ? 4
                               : lead >= 0xE0 ? 3
                               : lead >= 0xC0 ? 2
                                              : 1;
    if (length > back + 1)
      return end - 1 - back;
  }
  return end;
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

MarkdownPreviewProvider::Document MarkdownPreviewProvider::readDocument(const URL& fileURL,
                                                                        std::size_t maxBytes) {
  FilePrefix prefix = readFilePrefix(fileURL, maxBytes);
  Document document;
  document.text = std::move(prefix.data);
  if (!prefix.complete) {
    // After the last line break, unless that would drop more than half of what was read (a
    // document of very long lines); then after the last whole character.
    const std::size_t lineEnd = document.text.rfind('\n');
    if (lineEnd != std::string::npos && lineEnd + 1 >= maxBytes / 2)
      document.text.resize(lineEnd + 1);
    else
      document.text.resize(lastCharacterBoundary(document.text));
    document.cutNotice = "[Lumivale Quick Look shows only the first " +
                         describeByteCount(document.text.size()) + " of this " +
                         describeByteCount(prefix.fileSize) +
                         " document. Open the file to read all of it.]";
  }
  if (!isValidUTF8(document.text))
    throw NSErrorException(
        {NSErrorDomain::kCocoa, NSCocoaErrorCode::kFileReadInapplicableStringEncoding,
         "The file \u201C" + fileURL.lastPathComponent() +
             "\u201D couldn\u2019t be opened using text encoding Unicode (UTF-8)."});
  return document;
}

QLPreviewReply MarkdownPreviewProvider::providePreview(const QLFilePreviewRequest& request) {
  Document document = readDocument(request.fileURL);
  const std::string& text = document.text;
  std::string markdown;
  QLPreviewReplyAttachments attachments;
  std::vector<std::string> dependencies; // every image file looked for, found or not
  if (isMermaidSource(request.fileURL.pathExtension(), text)) {
    markdown = wrapMermaidSource(text);
  } else {
    const InlineLocalAssets::Reader read = InlineLocalAssets::boundedFileReader(kPerImageByteCap);
    InlineLocalAssets::MarkdownResult result = InlineLocalAssets::rewriteMarkdownImages(
        text, request.fileURL.deletingLastPathComponent(),
        [&](const URL& url) {
          dependencies.push_back(url.path());
          return read(url);
        },
        kPerImageByteCap, kCumulativeByteCap);
    markdown = std::move(result.markdown);
    attachments = PreviewReplyBuilder::replyAttachments(result.attachments);
  }
  if (document.cutNotice)
    markdown += "\n\n" + *document.cutNotice + "\n";
  std::string html = MarkdownRenderer::renderHTML(markdown, Bundle::main());
  QLPreviewReply reply = PreviewReplyBuilder::makeReply(std::move(html), std::move(attachments),
                                                        request.fileURL, kContentSize);
  reply.dependencies = std::move(dependencies);
  return reply;
}
