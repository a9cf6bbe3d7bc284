// MarkdownPreviewProvider: the principal class of MarkdownLens. Turns a Markdown document or a
// Mermaid diagram source into an HTML reply (1024 x 1024) with its local images attached.
// Stateless; serves any number of requests concurrently.
#pragma once

#include "PreviewCore/PreviewProviderFrame.h"

#include <string>
#include <string_view>

class MarkdownPreviewProvider : public PreviewProviderFrame {
public:
  using PreviewProviderFrame::providePreview;
  QLPreviewReply providePreview(const QLFilePreviewRequest& request) override;

  static constexpr std::int64_t kPerImageByteCap = 4194304;
  static constexpr std::int64_t kCumulativeByteCap = 8388608;
  static constexpr CGSize kContentSize{1024, 1024};

  // True for a "mermaid" file, and for an "mmd" file whose text starts like a diagram.
  static bool isMermaidSource(std::string_view pathExtension, std::string_view text);
  // The diagram source as one fenced block labelled mermaid, with a fence that no run of
  // backticks or tildes in the text can close.
  static std::string wrapMermaidSource(std::string_view text);
};
