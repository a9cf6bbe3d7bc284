// PreviewOutput: presents a preview reply as files. A preview folder holds the reply's data
// (Preview.html), its properties, one file per attachment and a standalone page; it appears
// whole or not at all.
#pragma once

#include "QuickLook/PreviewWire.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace PreviewOutput {

// PreviewProperties.json: title, contentType, contentSize, stringEncoding, attachments.
std::string propertiesJSON(const PreviewWire::Reply& reply);

// The MIME type to embed an attachment with (from its type, else the extension's word for it
// when that is a well-formed MIME type, else application/octet-stream).
std::string mimeTypeOf(const PreviewWire::ReplyAttachment& attachment);

// Where the resolver script goes in a page: just after the opening <head ...> tag; failing that,
// after a leading doctype; failing that, at the very start.
std::size_t insertionPoint(std::string_view page);

// `outputDirectory/<fileName>.qlpreview/` on its way into place: a hidden staging folder beside
// it, filled, then renamed over an earlier one. The page may be written into Preview.html while
// the reply arrives (pageFile) or come with the reply. Destroying an unfinished folder removes
// the staging folder. One thread at a time.
//
// Standalone.html is the page with a resolver script inserted at the very start of <head>,
// before the page's own policy and scripts: globalThis.lumivaleResolveAttachment(id) returns a
// data: URL for each attachment (null for unknown identifiers), so "cid:" references resolve in
// any browser. A reply without attachments needs no resolver (a page opened from a file treats
// every "cid:" reference as unavailable): its Standalone.html is a hard link to Preview.html
// where the file system allows one.
class PreviewFolder {
public:
  // Creates the staging folder; throws std::runtime_error when it cannot.
  PreviewFolder(const std::filesystem::path& outputDirectory, const std::string& fileName);
  ~PreviewFolder();
  PreviewFolder(const PreviewFolder&) = delete;
  PreviewFolder& operator=(const PreviewFolder&) = delete;

  // Preview.html, created empty, for the reply's page to be written into as it arrives.
  // Throws std::runtime_error when it cannot be created.
  std::shared_ptr<PreviewWire::PageFile> pageFile();

  // Writes the rest of the folder from `reply` (its page is what the page file received, when
  // it received one; else the reply's data) and moves the folder into place, replacing an
  // earlier one. Throws std::runtime_error, leaving nothing behind, when the reply cannot be
  // written (including a page file that failed, and attachment identifiers that are not plain
  // file names). Returns the folder's path.
  std::filesystem::path finish(const PreviewWire::Reply& reply);

private:
  void writeFolder(const PreviewWire::Reply& reply);

  std::filesystem::path target_;
  std::filesystem::path staging_; // empty once moved into place
  std::shared_ptr<PreviewWire::PageFile> pageFile_;
};

// A whole preview folder for a reply that carries its page.
std::filesystem::path writePreviewFolder(const std::filesystem::path& outputDirectory,
                                         const std::string& fileName,
                                         const PreviewWire::Reply& reply);

} // namespace PreviewOutput
