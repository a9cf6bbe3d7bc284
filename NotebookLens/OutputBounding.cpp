#include "NotebookLens/OutputBounding.h"

#include "Foundation/JSONSerialization.h"
#include "NotebookLens/GraphemeCut.h"
#include "PreviewCore/Graphemes.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <vector>

namespace json = boost::json;

namespace {

using OutputBounding::OutputLimits;

std::string_view view(const json::string& s) {
  return {s.data(), s.size()};
}

bool atMost(std::uint64_t amount, std::int64_t limit) {
  return limit >= 0 && amount <= static_cast<std::uint64_t>(limit);
}

std::uint64_t clampedCount(std::int64_t count) {
  return count < 0 ? 0 : static_cast<std::uint64_t>(count);
}

bool isArrayOfStrings(const json::array& array) {
  return std::all_of(array.begin(), array.end(),
                     [](const json::value& v) { return v.is_string(); });
}

bool isArrayOfObjects(const json::array& array) {
  return std::all_of(array.begin(), array.end(),
                     [](const json::value& v) { return v.is_object(); });
}

// A stable, readable description of a value that is not a text: its compact JSON.
std::string description(const json::value& value) {
  if (value.is_string())
    return std::string(view(value.get_string()));
  try {
    return JSONSerialization::write(value);
  } catch (...) {
    return {}; // nesting beyond what the writer accepts; cannot come from the parser
  }
}

// A field's text without copying when the field is a single text.
class FieldText {
public:
  explicit FieldText(const json::value& value) {
    if (value.is_string()) {
      view_ = view(value.get_string());
    } else {
      owned_ = OutputBounding::outputText(value);
      view_ = owned_;
    }
  }
  FieldText(const FieldText&) = delete;
  FieldText& operator=(const FieldText&) = delete;
  std::string_view text() const { return view_; }

private:
  std::string owned_;
  std::string_view view_;
};

// The number of bytes equal to `byte`, eight at a time.
std::uint64_t countByte(std::string_view text, char byte) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  const std::uint64_t pattern = kOnes * static_cast<unsigned char>(byte);
  std::uint64_t count = 0;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    const std::uint64_t x = word ^ pattern; // zero bytes where the byte matches
    const std::uint64_t nonZero = ((x & kLow7) + kLow7) | x;
    // One 0x01 per matching byte, summed across the word by a multiply (a bit-count
    // instruction is not part of the baseline instruction set, and its library stand-in is slow).
    const std::uint64_t matches = (~nonZero & ~kLow7) >> 7;
    count += (matches * kOnes) >> 56;
  }
  for (; i < text.size(); ++i)
    count += text[i] == byte;
  return count;
}

// Line count after CR LF and lone CR have become LF: 0 for an empty text, else one more than
// the number of line ends.
std::uint64_t lineCount(std::string_view text) {
  if (text.empty())
    return 0;
  std::uint64_t lineEnds = countByte(text, '\n');
  if (std::memchr(text.data(), '\r', text.size())) {
    for (std::size_t i = 0; i < text.size(); ++i)
      if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))
        ++lineEnds;
  }
  return lineEnds + 1;
}

std::string normalizedLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out.push_back(text[i]);
    } else {
      out.push_back('\n');
      if (i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    }
  }
  return out;
}

std::string notice(std::uint64_t byteCount, const OutputLimits& limits, std::uint64_t count,
                   std::string_view what) {
  std::string text = "[... Lumivale Quick Look truncated ";
  text += OutputBounding::formatByteCount(byteCount);
  text += " from ";
  text += limits.label;
  text += "; ";
  text += std::to_string(count);
  text += what;
  text += " Open the notebook for the full output. ...]";
  return text;
}

std::string joinCut(std::string_view head, std::string_view noticeText, std::string_view tail,
                    bool separateTail) {
  std::string out;
  out.reserve(head.size() + noticeText.size() + tail.size() + 2);
  out.append(head);
  out.push_back('\n');
  out.append(noticeText);
  if (separateTail) {
    out.push_back('\n');
    out.append(tail);
  }
  return out;
}

// Keeps the first two thirds of the budget and the last third, counted in user-perceived
// characters, of the text as given.
std::string byteCut(std::string_view text, const OutputLimits& limits, std::uint64_t lines) {
  const std::uint64_t budget =
      static_cast<std::uint64_t>(std::max(limits.maxBytes, OutputBounding::minimumCutBudget));
  const std::uint64_t headCount = 2 * budget / 3;
  const std::uint64_t tailCount = budget / 3;
  std::size_t headEnd = Graphemes::graphemeClusterPrefixBytes(text, headCount);
  std::size_t tailStart = text.size() - Graphemes::graphemeClusterSuffixBytes(text, tailCount);
  if (headEnd > tailStart) {
    // Fewer characters than the two counts together (characters of several bytes each): the
    // shares are taken in bytes instead, at character boundaries, and never overlap.
    headEnd =
        GraphemeCut::boundaryAtOrBefore(text, std::min<std::uint64_t>(headCount, text.size()));
    tailStart =
        text.size() > tailCount ? GraphemeCut::boundaryAtOrAfter(text, text.size() - tailCount) : 0;
    tailStart = std::max(tailStart, headEnd);
  }
  return joinCut(text.substr(0, headEnd), notice(text.size(), limits, lines, " lines total."),
                 text.substr(tailStart), true);
}

// The offset just past the `count`-th line feed, or npos when there are fewer.
std::size_t afterLineFeed(std::string_view text, std::uint64_t count) {
  std::size_t position = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    const void* found = std::memchr(text.data() + position, '\n', text.size() - position);
    if (!found)
      return std::string_view::npos;
    position = static_cast<std::size_t>(static_cast<const char*>(found) - text.data()) + 1;
  }
  return position;
}

// The offset just past the `count`-th line feed from the end, or 0 when there are fewer.
std::size_t afterLineFeedFromEnd(std::string_view text, std::uint64_t count) {
  std::size_t end = text.size();
  for (std::uint64_t i = 0; i < count; ++i) {
    const void* found = end == 0 ? nullptr : ::memrchr(text.data(), '\n', end);
    if (!found)
      return 0;
    end = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
  }
  return end + 1;
}

// Cuts a text already measured as `bytes` bytes in `lines` lines; nullopt when within limits.
std::optional<std::string> cutMeasured(std::string_view text, std::uint64_t lines,
                                       const OutputLimits& limits) {
  const std::uint64_t bytes = text.size();
  const bool linesWithin = atMost(lines, limits.maxLines);
  if (atMost(bytes, limits.maxBytes) && linesWithin)
    return std::nullopt;
  if (linesWithin)
    return byteCut(text, limits, lines);

  std::string normalizedStorage;
  std::string_view normalized = text;
  if (std::memchr(text.data(), '\r', text.size())) {
    normalizedStorage = normalizedLineEnds(text);
    normalized = normalizedStorage;
  }
  const std::uint64_t head = std::min(lines, clampedCount(limits.headLines));
  const std::uint64_t rest = lines - head;
  const std::uint64_t tail = std::min(rest, clampedCount(limits.tailLines));
  const std::uint64_t omitted = rest - tail;

  std::string_view headText;
  if (head > 0) {
    std::size_t end = afterLineFeed(normalized, head);
    headText = end == std::string_view::npos ? normalized : normalized.substr(0, end - 1);
  }
  std::string_view tailText;
  if (tail > 0) {
    std::size_t start = tail == lines ? 0 : afterLineFeedFromEnd(normalized, tail);
    tailText = normalized.substr(start);
  }
  std::string lineNotice = notice(bytes, limits, omitted, " lines omitted.");
  const std::uint64_t resultBytes =
      headText.size() + 1 + lineNotice.size() + (tailText.empty() ? 0 : tailText.size() + 1);
  if (!atMost(resultBytes, limits.maxBytes))
    return byteCut(text, limits, lines);
  return joinCut(headText, lineNotice, tailText, !tailText.empty());
}

// UTF-8 length of outputText(value) without building it for texts and arrays of texts.
std::uint64_t outputTextSize(const json::value& value) {
  if (value.is_string())
    return value.get_string().size();
  if (value.is_array() && isArrayOfStrings(value.get_array())) {
    std::uint64_t size = 0;
    for (const json::value& element : value.get_array())
      size += element.get_string().size();
    return size;
  }
  return OutputBounding::outputText(value).size();
}

} // namespace

namespace OutputBounding {

void boundNotebookOutputs(json::value& notebook) {
  json::object* top = notebook.if_object();
  if (!top || top->empty())
    return;
  json::value* cells = top->if_contains("cells");
  if (!cells || !cells->is_array() || !isArrayOfObjects(cells->get_array()))
    return;
  for (json::value& cellValue : cells->get_array()) {
    json::object& cell = cellValue.get_object();
    if (cell.empty())
      continue;
    const json::value* type = cell.if_contains("cell_type");
    if (!type || !type->is_string() || type->get_string() != "code")
      continue;
    json::value* outputs = cell.if_contains("outputs");
    if (!outputs || !outputs->is_array() || !isArrayOfObjects(outputs->get_array()))
      continue;
    for (json::value& output : outputs->get_array())
      boundOutput(output.get_object());
  }
}

void boundOutput(json::object& output) {
  if (output.empty())
    return;
  if (const json::value* type = output.if_contains("output_type"); type && type->is_string()) {
    const json::string& name = type->get_string();
    if (name == "stream")
      boundOutputValue(output.if_contains("text"), streamOutputLimits);
    else if (name == "error" || name == "pyerr")
      boundOutputValue(output.if_contains("traceback"), tracebackLimits);
  }

  json::value* dataValue = output.if_contains("data");
  if (!dataValue || !dataValue->is_object())
    return;
  json::object& data = dataValue->get_object();
  if (json::value* html = data.if_contains("text/html")) {
    const std::uint64_t htmlBytes = outputTextSize(*html);
    if (htmlBytes > static_cast<std::uint64_t>(maxHTMLOutputBytes)) {
      if (json::value* plain = data.if_contains("text/plain")) {
        std::string replacement =
            "[Lumivale Quick Look used text/plain because text/html output was ";
        replacement += formatByteCount(htmlBytes);
        replacement += ".]\n\n";
        {
          FieldText plainText(*plain);
          std::optional<std::string> cut = cutOutputText(plainText.text(), textOutputLimits);
          replacement += cut ? std::string_view(*cut) : plainText.text();
        }
        *plain = std::string_view(replacement);
        data.stable_erase("text/html");
      } else {
        *html = std::string_view(
            "<pre>[Lumivale Quick Look omitted a large HTML output: " + formatByteCount(htmlBytes) +
            ". Open the notebook for the full output.]</pre>");
      }
    }
  }
  boundOutputValue(data.if_contains("text/plain"), textOutputLimits);
}

bool boundOutputValue(json::value* field, const OutputLimits& limits) {
  if (!field)
    return false;
  std::optional<std::string> cut;
  {
    FieldText text(*field);
    cut = cutOutputText(text.text(), limits);
    if (!cut || *cut == text.text())
      return false;
  }
  *field = std::string_view(*cut);
  return true;
}

std::string outputText(const json::value& value) {
  if (value.is_string())
    return std::string(view(value.get_string()));
  if (!value.is_array())
    return description(value);
  std::string text;
  for (const json::value& element : value.get_array()) {
    if (element.is_string())
      text.append(view(element.get_string()));
    else
      text.append(description(element));
  }
  return text;
}

std::optional<std::string> cutOutputText(std::string_view text, const OutputLimits& limits) {
  return cutMeasured(text, lineCount(text), limits);
}

std::string truncateOutputText(std::string_view text, const OutputLimits& limits) {
  std::optional<std::string> cut = cutOutputText(text, limits);
  return cut ? std::move(*cut) : std::string(text);
}

std::string formatByteCount(std::uint64_t byteCount) {
  if (byteCount < 1024)
    return std::to_string(byteCount) + " bytes";
  const bool megabytes = byteCount >= 1048576;
  const double amount = static_cast<double>(byteCount) / (megabytes ? 1048576.0 : 1024.0);
  char buffer[64];
  // to_chars never consults the locale: the decimal mark is always a full stop.
  auto result = std::to_chars(buffer, buffer + sizeof buffer, amount, std::chars_format::fixed, 1);
  std::string text(buffer, result.ptr);
  text += megabytes ? " MB" : " KB";
  return text;
}

} // namespace OutputBounding
