// OutputBounding: shortens oversized texts in the outputs of a notebook's code cells (streams,
// tracebacks, plain-text and HTML results) so that the page stays small: the beginning and the
// end are kept with a bracketed notice between them. Pure; works in place on the caller's tree.
#pragma once

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace OutputBounding {

// The bounds applied to one text field.
struct OutputLimits {
  std::string_view label; // the field's name in the notices
  std::int64_t maxBytes;  // largest UTF-8 length kept unchanged
  std::int64_t maxLines;  // largest line count kept unchanged
  std::int64_t headLines; // lines kept from the beginning by the line cut
  std::int64_t tailLines; // lines kept from the end by the line cut
};

inline constexpr OutputLimits streamOutputLimits{"stream output", 153600, 1000, 200, 80};
inline constexpr OutputLimits tracebackLimits{"traceback", 153600, 500, 40, 120};
inline constexpr OutputLimits textOutputLimits{"text output", 153600, 1000, 200, 80};

// An HTML result longer than this (UTF-8 bytes) is replaced.
inline constexpr std::int64_t maxHTMLOutputBytes = 1048576;
// The byte cut keeps at least this many characters in all, whatever maxBytes says.
inline constexpr std::int64_t minimumCutBudget = 1000;

// Bounds the outputs of every code cell. A value that is not a notebook object (or whose cells
// or outputs have unexpected shapes) is left as it is. Never fails.
void boundNotebookOutputs(boost::json::value& notebook);

// Bounds one output object: its stream text or traceback, and its "text/html" and
// "text/plain" results.
void boundOutput(boost::json::object& output);

// Bounds one text field (a text or an array of texts). Nothing happens for an absent field
// (nullptr) or one within the limits; a field that had to be cut becomes one text. Returns
// whether the field was replaced.
bool boundOutputValue(boost::json::value* field, const OutputLimits& limits);

// A field's text: a text itself, an array's elements concatenated (non-texts by their
// description), anything else by its description (compact JSON).
std::string outputText(const boost::json::value& value);

// The text itself when within the limits, otherwise the cut text with its notice.
std::string truncateOutputText(std::string_view text, const OutputLimits& limits);
// The cut text, or nullopt when the text is within the limits.
std::optional<std::string> cutOutputText(std::string_view text, const OutputLimits& limits);

// "512 bytes", "1.5 KB", "1.0 MB": units of 1024, one decimal with a full stop in any locale.
std::string formatByteCount(std::uint64_t byteCount);

} // namespace OutputBounding
