// LinkedPreviewSource: how the preview panel gets previews of documents the user reaches by
// following links, the same way it got the documents it was opened with (the preview server,
// or the sandboxed extension processes of this run).
#pragma once

#include "QuickLook/PreviewWire.h"

#include <QString>
#include <functional>

struct LinkedPreviewSource {
  // Whether a preview extension takes the file at this canonical path. Called on the main
  // thread; must not read the file.
  std::function<bool(const QString& path)> canPreview;
  // The file's preview reply (an error reply on failure). A blocking call, made on a thread of
  // its own.
  std::function<PreviewWire::Reply(const QString& path)> fetch;
};
