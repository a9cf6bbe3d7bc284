// MarkdownPreviewProvider: the principal class of MarkdownLens. Turns a Markdown document or a
// Mermaid diagram source into an HTML reply (1024 x 1024) with its local images attached.
// Stateless; serves any number of requests concurrently.
#pragma once

#include "PreviewCore/PreviewProviderFrame.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class MarkdownPreviewProvider : public PreviewProviderFrame {
public:
  using PreviewProviderFrame::providePreview;
  QLPreviewReply providePreview(const QLFilePreviewRequest& request) override;

  static constexpr std::int64_t kPerImageByteCap = 4194304;
  static constexpr std::int64_t kCumulativeByteCap = 8388608;
  static constexpr CGSize kContentSize{1024, 1024};
  // The most of a document that is read and shown (16 MiB, some thousand printed pages): a
  // larger one is shown as its first part, cut at a line break, followed by a notice.
  static constexpr std::size_t kMaxDocumentBytes = std::size_t(16) << 20;

  // The document's text as it is previewed: the whole file, or its first part up to
  // kMaxDocumentBytes cut after the last line break in it (when that would keep less than half,
  // at the last whole character instead) with `cutNotice` saying so. Fails for a file that cannot
  // be read, that is not a regular file, or whose kept bytes are not UTF-8.
  struct Document {
    std::string text;
    std::optional<std::string> cutNotice;
  };
  static Document readDocument(const URL& fileURL, std::size_t maxBytes = kMaxDocumentBytes);

  // True for a "mermaid" file, and for an "mmd" file whose text starts like a diagram.
  static bool isMermaidSource(std::string_view pathExtension, std::string_view text);
  // The diagram source as one fenced block labelled mermaid, with a fence that no run of
  // backticks or tildes in the text can close.
  static std::string wrapMermaidSource(std::string_view text);
};
