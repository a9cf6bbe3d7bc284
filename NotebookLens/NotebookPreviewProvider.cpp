#include "NotebookLens/NotebookPreviewProvider.h"

#include "Foundation/Bundle.h"
#include "Foundation/ByteCount.h"
#include "Foundation/FileRead.h"
#include "Foundation/JSONSerialization.h"
#include "Foundation/NSError.h"
#include "NotebookLens/NotebookRenderer.h"
#include "NotebookLens/OutputDataInSource.h"
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

// Room ahead of the file's bytes for the page written into the same memory: the page's assets
// before the notebook (about 1 MB) and the growth of the output data by escapes ("/" in base64
// takes two bytes, about one byte in sixty-four). Too little room costs a move of the page,
// never its content; the room is written over either way.
std::size_t pageRoomAhead(std::size_t fileSize) {
  return fileSize / 32 + (3u << 19);
}

// Untouched room behind the bytes, for a page that grows past them: the diagram library that
// follows the notebook (about 6 MB) and escapes beyond the room ahead.
std::size_t pageRoomBehind(std::size_t fileSize) {
  return fileSize / 16 + (8u << 20);
}

} // namespace

std::string NotebookPreviewProvider::readNotebook(const URL& fileURL, std::size_t maxBytes,
                                                  std::size_t spareCapacity,
                                                  std::size_t leadingRoom) {
  FilePrefix prefix =
      readFilePrefix(fileURL, maxBytes, /*readLargerFiles=*/false, spareCapacity, leadingRoom);
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
// renderer would fail on the bytes as read. The notebook is read in behind room for the page,
// and its large output data (images) is not copied into the tree but left in the bytes: the
// page is then written into the same memory, each image escaped straight from the bytes to its
// place in the page, so the bytes of an image are read once, written once into the page and
// held once.
NotebookPreviewProvider::Preview NotebookPreviewProvider::makePreview(const URL& fileURL,
                                                                      const Bundle& bundle) {
  std::error_code sizeError; // a file that cannot be sized fails in the read with its own error
  const std::uintmax_t fileSize = std::filesystem::file_size(fileURL.path(), sizeError);
  const bool sized = !sizeError && fileSize <= kMaxNotebookBytes;
  const std::size_t room = sized ? pageRoomAhead(static_cast<std::size_t>(fileSize)) : 0;
  std::string buffer =
      readNotebook(fileURL, kMaxNotebookBytes,
                   sized ? pageRoomBehind(static_cast<std::size_t>(fileSize)) : 0, room);
  const std::string_view bytes = std::string_view(buffer).substr(room);
  // The tree's strings are at most as large as the file: one arena for all of them.
  NotebookRenderer::SourceText source{room, {}};
  boost::json::value notebook =
      JSONSerialization::parse(bytes, JSONSerialization::documentStorage(bytes.size()),
                               OutputDataInSource::kReferencing, source.references);

  std::optional<InlineLocalAssets::AttachmentMap> inlined =
      InlineLocalAssets::rewriteNotebookImagesInPlace(
          notebook, fileURL.deletingLastPathComponent(),
          InlineLocalAssets::boundedFileReader(kPerImageByteCap));
  Preview preview;
  if (inlined)
    preview.attachments = PreviewReplyBuilder::replyAttachments(*inlined);
  inlined.reset();

  preview.html =
      NotebookRenderer::renderParsedHTML(std::move(notebook), fileURL.lastPathComponent(), bundle,
                                         std::move(buffer), std::move(source));
  return preview;
}

QLPreviewReply NotebookPreviewProvider::providePreview(const QLFilePreviewRequest& request) {
  const URL fileURL = request.fileURL;
  Preview preview = makePreview(fileURL, Bundle::main());
  return PreviewReplyBuilder::makeReply(std::move(preview.html), std::move(preview.attachments),
                                        fileURL, kContentSize);
}
