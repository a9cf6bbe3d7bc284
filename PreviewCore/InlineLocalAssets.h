// InlineLocalAssets: rewrites local image references in Markdown (and in notebook Markdown
// cells) to "cid:" attachment identifiers and collects the files as reply attachments, within
// per-image and cumulative byte caps. No shared mutable state; safe on any number of threads.
#pragma once

#include "Foundation/URL.h"

#include <boost/json/array.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace InlineLocalAssets {

// One image travelling with a reply.
struct Attachment {
  std::string data;          // the file's bytes as read
  std::string pathExtension; // the resolved file's extension, lower-cased ("" when none)
  friend bool operator==(const Attachment&, const Attachment&) = default;
};

// Attachment identifier ("lumivale-asset-N") to attachment.
using AttachmentMap = std::map<std::string, Attachment>;

struct MarkdownResult {
  std::string markdown;
  AttachmentMap attachments;
};

struct NotebookResult {
  std::string data; // the re-serialised notebook
  AttachmentMap attachments;
};

// Reads a file's bytes; throws on failure. Only called during the call it is passed to.
using Reader = std::function<std::string(const URL&)>;

inline constexpr std::string_view kIdentifierPrefix = "lumivale-asset-";

MarkdownResult rewriteMarkdownImages(std::string_view markdown, const URL& baseDirectory,
                                     const Reader& reader, std::int64_t perImageByteCap,
                                     std::int64_t cumulativeByteCap);

// The file to read for a destination, or nullopt when it is not a local relative path.
std::optional<URL> resolveLocalImageURL(std::string_view destination, const URL& baseDirectory);

// True when the destination begins with a URL scheme ("https:", "data:", "cid:", "C:" ...).
bool hasURLScheme(std::string_view destination);

// Rewrites one text's image references. New attachments go into `attachments` under
// kIdentifierPrefix + `counter`, which then rises by one. The map of repeated destinations and
// the running total are local to this call. Shared by the Markdown and notebook inliners.
std::string rewriteImageReferences(std::string_view text, const URL& baseDirectory,
                                   const Reader& reader, std::int64_t perImageByteCap,
                                   std::int64_t cumulativeByteCap, AttachmentMap& attachments,
                                   std::uint64_t& counter);

// The notebook variant: rewrites the Markdown cells of a notebook, caps fixed at 4 MiB per
// image and 8 MiB per cell. Nullopt for anything that is not a notebook object with a "cells"
// array of objects.
std::optional<NotebookResult> rewriteNotebookImages(std::string_view notebookData,
                                                    const URL& baseDirectory, const Reader& reader);

// A cell's source text: "source" as a text, or its texts joined when it is an array of texts;
// otherwise empty.
std::string cellSourceText(const boost::json::array& cells, std::size_t index);

// The reader the pipelines pass: only regular files (after following links) are read, and never
// more than `maxBytes` bytes, so a device, a FIFO or a huge file cannot stall or flood a
// preview. A file longer than maxBytes yields maxBytes + 1 bytes' worth of evidence (its first
// maxBytes + 1 bytes) so that the caller's cap check rejects it.
Reader boundedFileReader(std::int64_t perImageByteCap);

} // namespace InlineLocalAssets
