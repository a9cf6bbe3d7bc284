// JSONSerialization: the project's one JSON reader and writer, over Boost.JSON trees.
// The writer escapes as the page expects: '"' and '\\' escaped, every '/' written as "\/",
// \b \f \n \r \t as short escapes, other controls below U+0020 as \u00XX, everything else as
// raw UTF-8; numbers in shortest round-trip form. Output therefore never holds "</script".
#pragma once

#include <boost/json/storage_ptr.hpp>
#include <boost/json/string.hpp>
#include <boost/json/value.hpp>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace JSONSerialization {

// Nesting deeper than this is refused by the reader, the writer and every recursive walk.
inline constexpr std::size_t kMaxDepth = 4096;

// Parses a JSON document whose top level is an object or an array. Throws NSErrorException
// (NSCocoaErrorDomain 3840) whose description says what is wrong and where (line, column).
boost::json::value parse(std::string_view bytes);

// The same, with the tree's memory taken from `storage` (see documentStorage).
boost::json::value parse(std::string_view bytes, boost::json::storage_ptr storage);

// Memory for the tree of one large document: an arena that grows in large blocks (backed by huge
// pages where the system has them) and is released whole with the last value that uses it.
// Values freed inside the tree are not reused, so it suits a tree that is built, changed a
// little and dropped, such as a notebook being previewed; `expectedBytes` is the first block.
boost::json::storage_ptr documentStorage(std::size_t expectedBytes);

// Large string values may stay in the text they were read from instead of being copied into
// the tree: the tree then holds a short stand-in (never valid UTF-8, so never mistaken for a
// text) that tells where the value lies in that text. Only values that nothing reads before the
// tree is written should stay there; the writer takes them from the text (appendReferencing).

// Where a string value that stayed in the source text lies: its bytes, escapes excluded (only
// strings written without escapes stay), at [offset, offset + length) of the text parsed.
struct SourceReference {
  std::size_t offset = 0;
  std::size_t length = 0;
  friend bool operator==(const SourceReference&, const SourceReference&) = default;
};

// One level of the path from the top to the value being read: the member's name inside an
// object; inArray (and no name) inside an array.
struct PathStep {
  bool inArray = false;
  std::string_view name;
};

// Which string values may stay in the source text: those of at least `minimumLength` bytes for
// whose path `keepInSource` answers true.
struct SourceReferencing {
  std::size_t minimumLength = 0;
  bool (*keepInSource)(std::span<const PathStep> path) = nullptr;
};

// The stand-in's reference, or nullopt for an ordinary string.
std::optional<SourceReference> sourceReference(const boost::json::string& text);

// Parses like parse(bytes, storage), leaving the string values that `referencing` names in
// `bytes` (which must outlive the tree's use); their references are added to `referenced` in
// the order of the text.
boost::json::value parse(std::string_view bytes, boost::json::storage_ptr storage,
                         const SourceReferencing& referencing,
                         std::vector<SourceReference>& referenced);

// Writes compact JSON (no added white space, member order kept). Throws NSErrorException when
// the value nests deeper than kMaxDepth, or holds a string that stayed in its source text.
std::string write(const boost::json::value& value);
void append(std::string& out, const boost::json::value& value);

// The same, handing each string that stayed in its source text to `writeReference` (with `out`
// holding everything written before it) instead of writing it.
using ReferenceWriter = std::function<void(std::string& out, const SourceReference&)>;
void appendReferencing(std::string& out, const boost::json::value& value,
                       const ReferenceWriter& writeReference);

// Appends `utf8` as one JSON string literal, quotation marks included.
void appendStringLiteral(std::string& out, std::string_view utf8);
// The same without the quotation marks.
void appendEscaped(std::string& out, std::string_view utf8);

// The escaped form of [from, end) (no quotation marks) written to `to`, which may lie inside the
// same memory before `from`: writing stops before it would reach a byte not yet read or go
// beyond `limit`. Returns the positions reached; from == end when all was written.
struct EscapeProgress {
  const char* from;
  char* to;
};
EscapeProgress escapeForward(const char* from, const char* end, char* to, const char* limit);
std::string stringLiteral(std::string_view utf8);

} // namespace JSONSerialization
