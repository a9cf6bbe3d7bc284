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
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace {

// Room beyond the file's bytes for the page written into the same memory: the page's assets
// (the diagram library alone is about 6 MB) and the renderer's allowance for escapes.
std::size_t pageHeadroom(std::size_t fileSize) {
  return fileSize / 16 + (8u << 20);
}

} // namespace

std::string NotebookPreviewProvider::readNotebook(const URL& fileURL, std::size_t maxBytes,
                                                  std::size_t spareCapacity) {
  FilePrefix prefix = readFilePrefix(fileURL, maxBytes, /*readLargerFiles=*/false, spareCapacity);
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
// renderer would fail on the bytes as read. The page is written into the memory the file was
// read into, so at most two copies of a big notebook are alive at a time (the bytes, then the
// page, beside the tree) and the page's bytes land in pages already brought in.
NotebookPreviewProvider::Preview NotebookPreviewProvider::makePreview(const URL& fileURL,
                                                                      const Bundle& bundle) {
  std::error_code sizeError; // a file that cannot be sized fails in the read with its own error
  const std::uintmax_t fileSize = std::filesystem::file_size(fileURL.path(), sizeError);
  std::string buffer = readNotebook(fileURL, kMaxNotebookBytes,
                                    sizeError || fileSize > kMaxNotebookBytes
                                        ? 0
                                        : pageHeadroom(static_cast<std::size_t>(fileSize)));
  // The tree's strings are about as large as the file: one arena for all of them.
  boost::json::value notebook =
      JSONSerialization::parse(buffer, JSONSerialization::documentStorage(buffer.size()));

  std::optional<InlineLocalAssets::AttachmentMap> inlined =
      InlineLocalAssets::rewriteNotebookImagesInPlace(
          notebook, fileURL.deletingLastPathComponent(),
          InlineLocalAssets::boundedFileReader(kPerImageByteCap));
  Preview preview;
  if (inlined)
    preview.attachments = PreviewReplyBuilder::replyAttachments(*inlined);
  inlined.reset();

  preview.html = NotebookRenderer::renderParsedHTML(
      std::move(notebook), fileURL.lastPathComponent(), bundle, std::move(buffer));
  return preview;
}

QLPreviewReply NotebookPreviewProvider::providePreview(const QLFilePreviewRequest& request) {
  const URL fileURL = request.fileURL;
  Preview preview = makePreview(fileURL, Bundle::main());
  return PreviewReplyBuilder::makeReply(std::move(preview.html), std::move(preview.attachments),
                                        fileURL, kContentSize);
}
