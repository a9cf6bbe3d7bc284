#include "JSONSerialization.h"

#include "NSError.h"

#include <array>
#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value_stack.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>

namespace json = boost::json;

namespace {

// ---------------------------------------------------------------------------------------------
// Reader

// Builds the value tree like Boost's own parser, except that every floating-point number is
// converted again from its text with std::from_chars, which is exact (Boost 1.81's conversion
// can be one unit in the last place off, so numbers would not survive a round trip).
struct TreeBuilder {
  static constexpr std::size_t max_object_size = json::object::max_size();
  static constexpr std::size_t max_array_size = json::array::max_size();
  static constexpr std::size_t max_key_size = json::string::max_size();
  static constexpr std::size_t max_string_size = json::string::max_size();

  json::value_stack stack;
  std::string numberText;

  bool on_document_begin(json::error_code&) { return true; }
  bool on_document_end(json::error_code&) { return true; }
  bool on_object_begin(json::error_code&) { return true; }
  bool on_object_end(std::size_t n, json::error_code&) {
    stack.push_object(n);
    return true;
  }
  bool on_array_begin(json::error_code&) { return true; }
  bool on_array_end(std::size_t n, json::error_code&) {
    stack.push_array(n);
    return true;
  }
  bool on_key_part(json::string_view s, std::size_t, json::error_code&) {
    stack.push_chars(s);
    return true;
  }
  bool on_key(json::string_view s, std::size_t, json::error_code&) {
    stack.push_key(s);
    return true;
  }
  bool on_string_part(json::string_view s, std::size_t, json::error_code&) {
    stack.push_chars(s);
    return true;
  }
  bool on_string(json::string_view s, std::size_t, json::error_code&) {
    stack.push_string(s);
    return true;
  }
  bool on_number_part(json::string_view s, json::error_code&) {
    numberText.append(s.data(), s.size());
    return true;
  }
  bool on_int64(std::int64_t i, json::string_view, json::error_code&) {
    numberText.clear();
    stack.push_int64(i);
    return true;
  }
  bool on_uint64(std::uint64_t u, json::string_view, json::error_code&) {
    numberText.clear();
    stack.push_uint64(u);
    return true;
  }
  bool on_double(double d, json::string_view s, json::error_code& ec) {
    std::string_view text(s.data(), s.size());
    if (!numberText.empty()) {
      numberText.append(text);
      text = numberText;
    }
    double exact = 0;
    auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), exact);
    if (err == std::errc() && end == text.data() + text.size())
      d = exact;
    numberText.clear();
    if (!std::isfinite(d)) {
      ec = json::error::exponent_overflow;
      return false;
    }
    stack.push_double(d);
    return true;
  }
  bool on_bool(bool b, json::error_code&) {
    stack.push_bool(b);
    return true;
  }
  bool on_null(json::error_code&) {
    stack.push_null();
    return true;
  }
  bool on_comment_part(json::string_view, json::error_code&) { return true; }
  bool on_comment(json::string_view, json::error_code&) { return true; }
};

// 1-based line and column of a byte offset; columns count characters, not bytes.
std::string positionText(std::string_view bytes, std::size_t offset) {
  if (offset > bytes.size())
    offset = bytes.size();
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < offset; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\n') {
      ++line;
      column = 1;
    } else if ((c & 0xC0) != 0x80) {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

[[noreturn]] void throwInvalid(std::string_view bytes, std::size_t offset, std::string reason) {
  throw NSErrorException({NSErrorDomain::kCocoa, NSCocoaErrorCode::kPropertyListReadCorrupt,
                          "The data couldn\u2019t be read because it isn\u2019t valid JSON: " +
                              reason + " around " + positionText(bytes, offset) + "."});
}

std::size_t firstNonWhitespace(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size() &&
         (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\n' || bytes[i] == '\r'))
    ++i;
  return i;
}

// ---------------------------------------------------------------------------------------------
// Writer

// What follows the backslash for each byte that needs escaping; 0 for bytes written as they
// are, 'u' for the \u00XX form.
constexpr std::array<char, 256> makeEscapeTable() {
  std::array<char, 256> table{};
  for (int c = 0; c < 0x20; ++c)
    table[c] = 'u';
  table['\b'] = 'b';
  table['\f'] = 'f';
  table['\n'] = 'n';
  table['\r'] = 'r';
  table['\t'] = 't';
  table['"'] = '"';
  table['\\'] = '\\';
  table['/'] = '/';
  return table;
}
constexpr std::array<char, 256> kEscape = makeEscapeTable();

void appendNumber(std::string& out, double d) {
  if (!std::isfinite(d))
    throw NSErrorException({NSErrorDomain::kCocoa, NSCocoaErrorCode::kPropertyListReadCorrupt,
                            "Invalid number value (infinite or not a number) in JSON write."});
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
  out.append(buffer, result.ptr);
}

template <class Integer> void appendInteger(std::string& out, Integer i) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, i);
  out.append(buffer, result.ptr);
}

void appendValue(std::string& out, const json::value& value, std::size_t depth) {
  switch (value.kind()) {
  case json::kind::null:
    out.append("null");
    return;
  case json::kind::bool_:
    out.append(value.get_bool() ? "true" : "false");
    return;
  case json::kind::int64:
    appendInteger(out, value.get_int64());
    return;
  case json::kind::uint64:
    appendInteger(out, value.get_uint64());
    return;
  case json::kind::double_:
    appendNumber(out, value.get_double());
    return;
  case json::kind::string: {
    const json::string& s = value.get_string();
    JSONSerialization::appendStringLiteral(out, std::string_view(s.data(), s.size()));
    return;
  }
  case json::kind::array:
  case json::kind::object:
    break;
  }
  if (depth >= JSONSerialization::kMaxDepth)
    throw NSErrorException({NSErrorDomain::kCocoa, NSCocoaErrorCode::kPropertyListReadCorrupt,
                            "The JSON value nests more than " +
                                std::to_string(JSONSerialization::kMaxDepth) +
                                " levels deep and cannot be written."});
  if (value.is_array()) {
    out.push_back('[');
    bool first = true;
    for (const json::value& element : value.get_array()) {
      if (!first)
        out.push_back(',');
      first = false;
      appendValue(out, element, depth + 1);
    }
    out.push_back(']');
    return;
  }
  out.push_back('{');
  bool first = true;
  for (const json::key_value_pair& member : value.get_object()) {
    if (!first)
      out.push_back(',');
    first = false;
    JSONSerialization::appendStringLiteral(
        out, std::string_view(member.key().data(), member.key().size()));
    out.push_back(':');
    appendValue(out, member.value(), depth + 1);
  }
  out.push_back('}');
}

} // namespace

namespace JSONSerialization {

json::value parse(std::string_view bytes) {
  const std::size_t start = firstNonWhitespace(bytes);
  if (start == bytes.size())
    throw NSErrorException({NSErrorDomain::kCocoa, NSCocoaErrorCode::kPropertyListReadCorrupt,
                            "The data couldn\u2019t be read because it isn\u2019t valid JSON: "
                            "the text is empty."});
  if (bytes[start] != '{' && bytes[start] != '[')
    throwInvalid(bytes, start, "the top level must be an object or an array");

  json::parse_options options;
  options.max_depth = kMaxDepth;
  json::basic_parser<TreeBuilder> parser(options, json::storage_ptr());
  parser.handler().stack.reset();
  json::error_code ec;
  std::size_t consumed = parser.write_some(false, bytes.data(), bytes.size(), ec);
  if (ec) {
    std::string reason = ec.message();
    if (ec == json::error::too_deep)
      reason = "the text nests more than " + std::to_string(kMaxDepth) + " levels deep";
    else if (ec == json::error::incomplete)
      reason = "the text ends before the JSON value is complete";
    else if (ec == json::error::exponent_overflow)
      reason = "number out of range";
    throwInvalid(bytes, consumed, std::move(reason));
  }
  // The parser stops after the top-level value; only white space may follow it.
  std::size_t rest = consumed + firstNonWhitespace(bytes.substr(consumed));
  if (rest < bytes.size())
    throwInvalid(bytes, rest, "unexpected text after the end of the JSON value");
  return parser.handler().stack.release();
}

std::string write(const json::value& value) {
  std::string out;
  append(out, value);
  return out;
}

void append(std::string& out, const json::value& value) {
  appendValue(out, value, 0);
}

void appendStringLiteral(std::string& out, std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.reserve(out.size() + utf8.size() + 2);
  out.push_back('"');
  const char* p = utf8.data();
  const char* end = p + utf8.size();
  while (p < end) {
    const char* run = p;
    while (p < end && kEscape[static_cast<unsigned char>(*p)] == 0)
      ++p;
    out.append(run, p);
    if (p == end)
      break;
    const unsigned char c = static_cast<unsigned char>(*p++);
    const char escape = kEscape[c];
    if (escape == 'u') {
      const char text[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      out.append(text, sizeof text);
    } else {
      const char text[2] = {'\\', escape};
      out.append(text, sizeof text);
    }
  }
  out.push_back('"');
}

std::string stringLiteral(std::string_view utf8) {
  std::string out;
  appendStringLiteral(out, utf8);
  return out;
}

} // namespace JSONSerialization
