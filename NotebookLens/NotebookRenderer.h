// NotebookRenderer: turns one Jupyter notebook into one self-contained HTML page: checks that it
// is JSON, bounds oversized outputs, re-encodes it and fills "notebook-template" with the page
// assets it needs. No state of its own; renders may run on any number of threads at once (the
// template and asset caches they share are HTMLTemplate's).
#pragma once

#include "Foundation/Bundle.h"
#include "Foundation/JSONSerialization.h"
#include "Foundation/NSError.h"

#include <boost/json/value.hpp>
#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace NotebookRenderer {

// The renderer's own failure: the re-encoded notebook was not UTF-8 text.
class Error : public std::exception, public NSErrorConvertible {
public:
  enum class Kind { invalidJSON };
  static Error invalidJSON() { return Error(); }

  Kind kind() const { return Kind::invalidJSON; }
  const char* what() const noexcept override;
  NSError nsError() const override;
  friend bool operator==(const Error&, const Error&) { return true; }
  // All values are equal, so they hash alike.
  std::size_t hash() const noexcept { return 0; }

private:
  Error() = default;
};

// The page for the notebook bytes. Throws the JSON parser's NSErrorException for bytes that are
// not JSON, Error::invalidJSON, or HTMLTemplate::Error when the template is missing.
std::string renderHTML(std::string_view notebookData, std::string_view filename,
                       const Bundle& bundle);

// The same page for a notebook the caller has already parsed with JSONSerialization::parse
// (the preview pipeline parses once for image inlining and rendering). Consumes the value.
std::string renderParsedHTML(boost::json::value&& notebook, std::string_view filename,
                             const Bundle& bundle);

// The same page, written into `pageBuffer`'s memory: its text is discarded and its capacity
// reused (grown when it is too small). The preview pipeline hands over the buffer the notebook
// was read into, so the page's bytes go to memory already brought in rather than to fresh pages.
std::string renderParsedHTML(boost::json::value&& notebook, std::string_view filename,
                             const Bundle& bundle, std::string&& pageBuffer);

// Where the strings of a notebook's tree that stayed in the notebook's bytes lie (see
// JSONSerialization::SourceReferencing): the bytes fill the page buffer from `offset` on.
struct SourceText {
  std::size_t offset = 0;
  std::vector<JSONSerialization::SourceReference> references; // in the order of the bytes
};

// The same page for a tree whose large output data stayed in the notebook's bytes, which lie in
// `pageBuffer` after room left for the page: the page is written into that buffer, each such
// string escaped straight from the bytes to its place in the page.
std::string renderParsedHTML(boost::json::value&& notebook, std::string_view filename,
                             const Bundle& bundle, std::string&& pageBuffer, SourceText&& source);

// The file name with "&", "<", ">" and '"' written as entities (in that order).
std::string escapeFilename(std::string_view filename);

} // namespace NotebookRenderer

template <> struct std::hash<NotebookRenderer::Error> {
  std::size_t operator()(const NotebookRenderer::Error& error) const noexcept {
    return error.hash();
  }
};
