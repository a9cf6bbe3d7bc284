// Fuzzes notebook image inlining on notebook JSON: anything that is not a notebook object with a
// "cells" array of objects is refused (nullopt) and nothing else; otherwise the result is JSON
// with the same cells in the same order, cells that are not Markdown and every member but the
// Markdown sources untouched, each "cid:" identifier the sources name held by an attachment with
// the file's bytes within the per-image cap, and the parsed-tree variant giving the same result.
// Reads go through the pipelines' bounded reader to real files (see ImageFolder.h).
#include "Foundation/JSONSerialization.h"
#include "Foundation/NSError.h"
#include "FuzzSupport.h"
#include "ImageFolder.h"
#include "JSONEquivalence.h"
#include "PreviewCore/NotebookImageInlining.h"

#include <boost/json.hpp>

namespace json = boost::json;
using namespace InlineLocalAssets;
using FuzzSupport::require;

namespace {

bool isNotebookShape(const json::value& value) {
  const json::object* top = value.if_object();
  if (!top)
    return false;
  const json::value* cells = top->if_contains("cells");
  if (!cells || !cells->is_array())
    return false;
  for (const json::value& cell : cells->get_array())
    if (!cell.is_object())
      return false;
  return true;
}

bool isMarkdownCell(const json::value& cell) {
  const json::value* type = cell.get_object().if_contains("cell_type");
  return type && *type == "markdown";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = FuzzSupport::bytes(data, size);
  const URL& base = ImageFolder::documentFolder();
  const Reader files = boundedFileReader(kNotebookPerImageByteCap);
  const Reader reader = [&](const URL& url) {
    std::string read = files(url);
    require(static_cast<std::int64_t>(read.size()) <= kNotebookPerImageByteCap + 1,
            "a read never returns more than the cap plus one byte");
    return read;
  };

  const std::optional<NotebookResult> result = rewriteNotebookImages(bytes, base, reader);
  json::value original;
  try {
    original = JSONSerialization::parse(bytes);
  } catch (const NSErrorException&) {
    require(!result, "text that is not JSON is refused");
    return 0;
  }
  require(result.has_value() == isNotebookShape(original),
          "exactly the notebook-shaped values are rewritten");
  if (!result)
    return 0;

  json::value rewritten;
  try {
    rewritten = JSONSerialization::parse(result->data);
  } catch (const NSErrorException&) {
    require(false, "the rewritten notebook is JSON");
  }
  json::value inPlace = original;
  const std::optional<AttachmentMap> attachments =
      rewriteNotebookImagesInPlace(inPlace, base, reader);
  require(attachments && *attachments == result->attachments &&
              JSONSerialization::write(inPlace) == result->data,
          "the parsed-tree variant gives the same result");

  const json::object& before = original.get_object();
  const json::object& after = rewritten.get_object();
  require(before.size() == after.size(), "the notebook keeps its members");
  for (auto i = before.begin(), j = after.begin(); i != before.end(); ++i, ++j)
    require(i->key() == j->key() &&
                (i->key() == "cells" || JSONEquivalence::equivalent(i->value(), j->value())),
            "members other than the cells stay as they are");
  const json::array& cellsBefore = before.at("cells").get_array();
  const json::array& cellsAfter = after.at("cells").get_array();
  require(cellsBefore.size() == cellsAfter.size(), "the notebook keeps its cells");

  std::size_t named = 0;
  for (std::size_t i = 0; i < cellsBefore.size(); ++i) {
    const json::object& cell = cellsBefore[i].get_object();
    const json::object& cellAfter = cellsAfter[i].get_object();
    if (!isMarkdownCell(cellsBefore[i])) {
      require(JSONEquivalence::equivalent(cellsBefore[i], cellsAfter[i]),
              "cells that are not Markdown stay as they are");
      continue;
    }
    for (const auto& member : cell)
      require(member.key() == "source" ||
                  (cellAfter.contains(member.key()) &&
                   JSONEquivalence::equivalent(cellAfter.at(member.key()), member.value())),
              "a Markdown cell keeps every member but its source");
    if (!cell.contains("source")) {
      require(!cellAfter.contains("source"), "a cell without a source gets none");
      continue;
    }
    require(cellAfter.contains("source"), "a Markdown cell keeps its source");
    if (JSONEquivalence::equivalent(cell.at("source"), cellAfter.at("source")))
      continue;
    require(cellAfter.at("source").is_string(), "a rewritten source is one text");
    const std::string_view source = cellAfter.at("source").get_string();
    const std::string originalSource = cellSourceText(cellsBefore, i);
    for (std::size_t at = source.find("](cid:" + std::string(kIdentifierPrefix));
         at != std::string_view::npos;
         at = source.find("](cid:" + std::string(kIdentifierPrefix), at + 1)) {
      const std::size_t start = at + 6;
      // "lumivale-asset-" and a number; anything else was written so in the notebook.
      std::size_t end = start + kIdentifierPrefix.size();
      while (end < source.size() && source[end] >= '0' && source[end] <= '9')
        ++end;
      const std::string identifier(source.substr(start, end - start));
      auto attachment = result->attachments.find(identifier);
      if (attachment == result->attachments.end()) {
        require(originalSource.find("cid:" + identifier) != std::string::npos,
                "a new cid: names an attachment");
        continue; // written so in the notebook itself
      }
      require(static_cast<std::int64_t>(attachment->second.data.size()) <= kNotebookPerImageByteCap,
              "an attachment is within the per-image cap");
      ++named;
    }
  }
  require(result->attachments.empty() || named > 0, "attachments come from references");
  for (const auto& [identifier, attachment] : result->attachments)
    require(identifier.starts_with(kIdentifierPrefix), "identifiers carry the prefix");
  return 0;
}
