// JSONSerialization: the project's one JSON reader and writer, over Boost.JSON trees.
// The writer escapes as the page expects: '"' and '\\' escaped, every '/' written as "\/",
// \b \f \n \r \t as short escapes, other controls below U+0020 as \u00XX, everything else as
// raw UTF-8; numbers in shortest round-trip form. Output therefore never holds "</script".
#pragma once

#include <boost/json/storage_ptr.hpp>
#include <boost/json/value.hpp>
#include <cstddef>
#include <string>
#include <string_view>

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

// Writes compact JSON (no added white space, member order kept). Throws NSErrorException when
// the value nests deeper than kMaxDepth.
std::string write(const boost::json::value& value);
void append(std::string& out, const boost::json::value& value);

// Appends `utf8` as one JSON string literal, quotation marks included.
void appendStringLiteral(std::string& out, std::string_view utf8);
std::string stringLiteral(std::string_view utf8);

} // namespace JSONSerialization
