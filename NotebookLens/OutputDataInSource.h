// Which strings of a notebook may stay in the notebook's bytes while it is previewed: the large
// output data that no step before the page reads (images and other non-text results, and the
// files attached to cells), so that the parser does not copy them into the tree and the page
// takes them straight from the bytes read.
#pragma once

#include "Foundation/JSONSerialization.h"

#include <cstddef>
#include <span>

namespace OutputDataInSource {

// Strings shorter than this are copied into the tree as usual.
inline constexpr std::size_t kMinimumLength = 4096;

// True for cells[i].outputs[j].data[type] with a type other than "text/html" and "text/plain"
// (output bounding reads those two), and for cells[i].attachments[name][type].
bool staysInSource(std::span<const JSONSerialization::PathStep> path);

// The policy for JSONSerialization::parse.
inline constexpr JSONSerialization::SourceReferencing kReferencing{kMinimumLength, &staysInSource};

} // namespace OutputDataInSource
