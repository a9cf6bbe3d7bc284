// NotebookPreviewProvider: the principal class of NotebookLens. Turns a Jupyter notebook into an
// HTML reply (1100 x 900) with the local images of its Markdown cells attached. Stateless;
// serves any number of requests concurrently.
#pragma once

#include "Foundation/Bundle.h"
#include "Foundation/URL.h"
#include "PreviewCore/PreviewProviderFrame.h"

#include <cstddef>
#include <cstdint>
#include <string>

class NotebookPreviewProvider : public PreviewProviderFrame {
public:
  using PreviewProviderFrame::providePreview;
  QLPreviewReply providePreview(const QLFilePreviewRequest& request) override;

  // The page and reply attachments for a notebook file, with resources from `bundle`: the
  // pipeline without the reply (shared with the command-line driver and the benchmarks).
  struct Preview {
    std::string html;
    QLPreviewReplyAttachments attachments;
  };
  static Preview makePreview(const URL& fileURL, const Bundle& bundle);

  // The largest image file read for inlining; the inliner's own caps decide what is attached.
  static constexpr std::int64_t kPerImageByteCap = 4194304;
  static constexpr CGSize kContentSize{1100, 900};
  // The largest notebook that is parsed (512 MiB). Its parsed tree takes a few times its size,
  // which the extension's memory limit carries; a larger notebook fails at once, unread.
  static constexpr std::size_t kMaxNotebookBytes = std::size_t(512) << 20;

  // The notebook file's bytes (after `leadingRoom` zero bytes); fails for a file larger than
  // `maxBytes`, one that cannot be read, or anything but a regular file.
  static std::string readNotebook(const URL& fileURL, std::size_t maxBytes = kMaxNotebookBytes,
                                  std::size_t spareCapacity = 0, std::size_t leadingRoom = 0);
};
