#include "NotebookLens/NotebookPreviewProvider.h"

#include "Foundation/Bundle.h"
#include "Foundation/ByteCount.h"
#include "Foundation/FileRead.h"
#include "Foundation/JSONSerialization.h"
#include "Foundation/NSError.h"
#include "NotebookLens/NotebookRenderer.h"
#include "PreviewCore/NotebookImageInlining.h"
#include "PreviewCore/PreviewReplyBuilder.h"

#include <boost/json/value.hpp>
#include <optional>
#include <string>
#include <utility>

std::string NotebookPreviewProvider::readNotebook(const URL& fileURL, std::size_t maxBytes) {
  FilePrefix prefix = readFilePrefix(fileURL, maxBytes, /*readLargerFiles=*/false);
  if (!prefix.complete)
    throw NSErrorException({NSErrorDomain::kCocoa, NSCocoaErrorCode::kFileReadTooLarge,
                            "The notebook \u201C" + fileURL.lastPathComponent() +
                                "\u201D is too large to preview (" +
                                describeByteCount(prefix.fileSize) +
                                "; Lumivale Quick Look previews notebooks of up to " +
                                describeByteCount(maxBytes) + ")."});
  return std::move(prefix.data);
}

// The notebook is parsed once: the image inliner rewrites the parsed tree in place and the
// renderer takes the same tree, which is what rendering the inliner's re-serialised bytes
// would parse to. A notebook that is not JSON fails here with the parser's error, as the
// renderer would fail on the bytes as read. Each large buffer is released as soon as the next
// stage has what it needs, so that at most two copies of a big notebook are alive at a time.
NotebookPreviewProvider::Preview NotebookPreviewProvider::makePreview(const URL& fileURL,
                                                                      const Bundle& bundle) {
  boost::json::value notebook;
  {
    const std::string bytes = readNotebook(fileURL);
    notebook = JSONSerialization::parse(bytes);
  }

  std::optional<InlineLocalAssets::AttachmentMap> inlined =
      InlineLocalAssets::rewriteNotebookImagesInPlace(
          notebook, fileURL.deletingLastPathComponent(),
          InlineLocalAssets::boundedFileReader(kPerImageByteCap));
  Preview preview;
  if (inlined)
    preview.attachments = PreviewReplyBuilder::replyAttachments(*inlined);
  inlined.reset();

  preview.html =
      NotebookRenderer::renderParsedHTML(std::move(notebook), fileURL.lastPathComponent(), bundle);
  return preview;
}

QLPreviewReply NotebookPreviewProvider::providePreview(const QLFilePreviewRequest& request) {
  const URL fileURL = request.fileURL;
  Preview preview = makePreview(fileURL, Bundle::main());
  return PreviewReplyBuilder::makeReply(std::move(preview.html), std::move(preview.attachments),
                                        fileURL, kContentSize);
}
