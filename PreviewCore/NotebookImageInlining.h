// The notebook image inliner on an already parsed notebook, for the preview pipeline, which
// parses a notebook once for inlining and rendering. rewriteNotebookImages (InlineLocalAssets.h)
// is the same operation on bytes. Thread-safe; keeps no state.
#pragma once

#include "PreviewCore/InlineLocalAssets.h"

#include <boost/json/value.hpp>
#include <cstdint>
#include <optional>

namespace InlineLocalAssets {

inline constexpr std::int64_t kNotebookPerImageByteCap = 4194304; // each inlined file
inline constexpr std::int64_t kNotebookPerCellByteCap = 8388608;  // all files of one cell

// Rewrites the image references of the Markdown cells of `notebook` in place and returns the
// attachments. Nullopt, with the notebook untouched, for anything that is not an object whose
// "cells" is an array of objects.
std::optional<AttachmentMap> rewriteNotebookImagesInPlace(boost::json::value& notebook,
                                                          const URL& baseDirectory,
                                                          const Reader& reader);

} // namespace InlineLocalAssets
