// Fuzzes notebook output bounding, with limits small enough for short inputs to be cut:
// - a text is cut exactly when it exceeds its byte or line limit;
// - a cut text is never longer than the input plus its notice (and the two line feeds around
//   it), and what is kept is a prefix and a suffix of the text (line ends normalized for the
//   line cut) that end and begin at user-perceived character boundaries, ICU's own;
// - the grapheme helpers the cut uses agree with a plain walk of ICU's boundaries;
// - bounding a whole notebook keeps its cells and their outputs (count and order) and leaves
//   every cell that is not code untouched.
#include "Foundation/JSONSerialization.h"
#include "Foundation/NSError.h"
#include "Foundation/UTF8.h"
#include "FuzzSupport.h"
#include "NotebookLens/GraphemeCut.h"
#include "NotebookLens/OutputBounding.h"
#include "PreviewCore/Graphemes.h"

#include <boost/json.hpp>
#include <fuzzer/FuzzedDataProvider.h>
#include <memory>
#include <unicode/brkiter.h>
#include <unicode/utext.h>
#include <vector>

namespace json = boost::json;
using FuzzSupport::require;

namespace {

constexpr std::string_view kNoticeStart = "[... Lumivale Quick Look truncated ";
constexpr std::string_view kNoticeEnd = " Open the notebook for the full output. ...]";

// ICU's cluster boundaries of a UTF-8 text, as byte offsets (0 and size included).
std::vector<bool> boundaries(std::string_view utf8) {
  static thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> made(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    require(U_SUCCESS(status), "a character break iterator can be made");
    return made;
  }();
  std::vector<bool> marks(utf8.size() + 1, false);
  UErrorCode status = U_ZERO_ERROR;
  UText* text = utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status);
  iterator->setText(text, status);
  for (int32_t at = iterator->first(); at != icu::BreakIterator::DONE; at = iterator->next())
    marks[static_cast<std::size_t>(at)] = true;
  utext_close(text);
  return marks;
}

std::string normalizedLineEnds(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
    } else {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    }
  }
  return out;
}

std::uint64_t plainLineCount(std::string_view text) {
  if (text.empty())
    return 0;
  const std::string normalized = normalizedLineEnds(text);
  return 1 + static_cast<std::uint64_t>(std::count(normalized.begin(), normalized.end(), '\n'));
}

bool within(std::uint64_t amount, std::int64_t limit) {
  return limit >= 0 && amount <= static_cast<std::uint64_t>(limit);
}

// True when `head` and `tail` are a prefix and a suffix of `text` that do not overlap and are
// cut at cluster boundaries.
bool keptAtBoundaries(std::string_view text, std::string_view head, std::string_view tail) {
  if (head.size() + tail.size() > text.size() || !text.starts_with(head) || !text.ends_with(tail))
    return false;
  const std::vector<bool> marks = boundaries(text);
  return marks[head.size()] && marks[text.size() - tail.size()];
}

void checkCut(std::string_view text, const OutputBounding::OutputLimits& limits) {
  const std::optional<std::string> cut = OutputBounding::cutOutputText(text, limits);
  const bool fits =
      within(text.size(), limits.maxBytes) && within(plainLineCount(text), limits.maxLines);
  require(cut.has_value() != fits, "a text is cut exactly when it exceeds a limit");
  require(OutputBounding::truncateOutputText(text, limits) == (cut ? *cut : std::string(text)),
          "truncateOutputText is the cut or the text");
  if (!cut)
    return;
  const std::size_t noticeStart = cut->find(kNoticeStart);
  require(noticeStart != std::string::npos, "a cut text carries its notice");
  if (text.find("Lumivale Quick Look truncated") != std::string_view::npos)
    return; // the text imitates a notice: where the real one is cannot be told
  const std::size_t noticeEnd = cut->find(kNoticeEnd, noticeStart);
  require(noticeEnd != std::string::npos, "the notice is complete");
  const std::size_t afterNotice = noticeEnd + kNoticeEnd.size();
  const std::size_t noticeLength = afterNotice - noticeStart;
  require(cut->size() <= text.size() + noticeLength + 2,
          "a cut text is no longer than the input plus its notice");
  require(noticeStart >= 1 && (*cut)[noticeStart - 1] == '\n', "the notice starts its own line");
  const std::string_view result = *cut;
  const std::string_view head = result.substr(0, noticeStart - 1);
  std::string_view tail;
  if (afterNotice < result.size()) {
    require(result[afterNotice] == '\n', "the tail starts on its own line");
    tail = result.substr(afterNotice + 1);
  }
  if (!isValidUTF8(text) || text.size() > 8192)
    return;
  require(isValidUTF8(result), "a cut of UTF-8 is UTF-8");
  require(keptAtBoundaries(text, head, tail) ||
              keptAtBoundaries(normalizedLineEnds(text), head, tail),
          "the cut keeps a prefix and a suffix, cut at character boundaries");
}

void checkGraphemeHelpers(std::string_view text, std::size_t offset, std::size_t count) {
  const std::vector<bool> marks = boundaries(text);
  offset = std::min(offset, text.size());
  std::size_t before = offset, after = offset;
  while (!marks[before])
    --before;
  while (!marks[after])
    ++after;
  require(GraphemeCut::boundaryAtOrBefore(text, offset) == before,
          "boundaryAtOrBefore is ICU's boundary");
  require(GraphemeCut::boundaryAtOrAfter(text, offset) == after,
          "boundaryAtOrAfter is ICU's boundary");

  std::vector<std::size_t> ends;
  for (std::size_t i = 1; i <= text.size(); ++i)
    if (marks[i])
      ends.push_back(i);
  require(Graphemes::graphemeClusterCount(text) == ends.size(), "the cluster count is ICU's");
  const std::size_t prefix = count == 0 ? 0 : count >= ends.size() ? text.size() : ends[count - 1];
  require(Graphemes::graphemeClusterPrefixBytes(text, count) == prefix,
          "the prefix of n clusters is ICU's");
  std::size_t suffixStart = 0;
  if (count < ends.size())
    suffixStart = count == 0 ? text.size() : ends[ends.size() - count - 1];
  require(Graphemes::graphemeClusterSuffixBytes(text, count) == text.size() - suffixStart,
          "the suffix of n clusters is ICU's");
}

void checkNotebook(std::string_view bytes) {
  json::value notebook;
  try {
    notebook = JSONSerialization::parse(bytes);
  } catch (const NSErrorException&) {
    return;
  }
  const json::value original = notebook;
  OutputBounding::boundNotebookOutputs(notebook);
  const json::object* before = original.if_object();
  if (!before || !before->contains("cells") || !before->at("cells").is_array())
    return;
  const json::array& cellsBefore = before->at("cells").get_array();
  const json::array& cellsAfter = notebook.at("cells").get_array();
  require(cellsBefore.size() == cellsAfter.size(), "bounding keeps every cell");
  for (std::size_t i = 0; i < cellsBefore.size(); ++i) {
    const json::value& cell = cellsBefore[i];
    const json::value* type =
        cell.is_object() ? cell.get_object().if_contains("cell_type") : nullptr;
    if (!type || *type != "code") {
      require(cell == cellsAfter[i], "cells that are not code stay as they are");
      continue;
    }
    const json::value* outputs = cell.get_object().if_contains("outputs");
    const json::value* outputsAfter = cellsAfter[i].get_object().if_contains("outputs");
    if (outputs && outputs->is_array())
      require(outputsAfter && outputsAfter->is_array() &&
                  outputsAfter->get_array().size() == outputs->get_array().size(),
              "bounding keeps every output");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::int64_t maxBytes = provider.ConsumeIntegralInRange<std::int64_t>(-1, 1200);
  const std::int64_t maxLines = provider.ConsumeIntegralInRange<std::int64_t>(-1, 30);
  const std::int64_t headLines = provider.ConsumeIntegralInRange<std::int64_t>(-1, 12);
  const std::int64_t tailLines = provider.ConsumeIntegralInRange<std::int64_t>(-1, 12);
  const std::size_t offset = provider.ConsumeIntegral<std::uint16_t>();
  const std::size_t count = provider.ConsumeIntegralInRange<std::size_t>(0, 1500);
  const std::string text = provider.ConsumeRemainingBytesAsString();

  const OutputBounding::OutputLimits limits{"fuzzed output", maxBytes, maxLines, headLines,
                                            tailLines};
  checkCut(text, limits);
  checkCut(text, OutputBounding::streamOutputLimits);
  if (isValidUTF8(text) && text.size() <= 8192)
    checkGraphemeHelpers(text, offset, count);
  checkNotebook(text);
  return 0;
}
