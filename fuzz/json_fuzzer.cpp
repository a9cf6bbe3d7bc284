// Fuzzes the JSON reader and writer. Whatever the reader accepts, the writer's output holds no
// "</" (so never "</script"), reads back to an equal value and writes again to the same text.
// Any byte string written as a string literal matches a plain escaper and, when it is UTF-8,
// reads back to itself. The reader refuses with NSErrorException and nothing else.
#include "Foundation/JSONSerialization.h"
#include "Foundation/NSError.h"
#include "Foundation/UTF8.h"
#include "FuzzSupport.h"
#include "JSONEquivalence.h"

#include <boost/json.hpp>
#include <cmath>

namespace json = boost::json;
using FuzzSupport::require;

namespace {

std::string plainStringLiteral(std::string_view bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '/':
      out += "\\/";
      break;
    case '\b':
      out += "\\b";
      break;
    case '\f':
      out += "\\f";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      if (c < 0x20) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
        out += buffer;
      } else {
        out += static_cast<char>(c);
      }
    }
  }
  return out + "\"";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = FuzzSupport::bytes(data, size);

  const std::string literal = JSONSerialization::stringLiteral(input);
  require(literal == plainStringLiteral(input), "string literals match a plain escaper");
  if (isValidUTF8(input)) {
    json::value decoded = json::parse("[" + literal + "]");
    require(decoded.get_array().at(0).get_string() == json::string_view(input.data(), input.size()),
            "a string literal reads back to its text");
  }

  json::value value;
  try {
    value = JSONSerialization::parse(input);
  } catch (const NSErrorException&) {
    return 0;
  }
  require(value.is_object() || value.is_array(), "the top level is an object or an array");
  std::string written;
  try {
    written = JSONSerialization::write(value);
  } catch (const NSErrorException&) {
    require(false, "whatever the reader accepts, the writer writes");
  }
  require(written.find("</") == std::string::npos, "written JSON never holds \"</\"");
  require(isValidUTF8(written), "written JSON is UTF-8");
  json::value reread;
  try {
    reread = JSONSerialization::parse(written);
  } catch (const NSErrorException& error) {
    std::fprintf(stderr, "%s\n", error.what());
    require(false, "written JSON reads back");
  }
  require(JSONEquivalence::equivalent(value, reread), "written JSON reads back to an equal value");
  // Written once more, the text no longer changes (the first pass may turn -0 into 0).
  const std::string again = JSONSerialization::write(reread);
  require(JSONSerialization::write(JSONSerialization::parse(again)) == again, "writing is stable");
  // Boost's own parser agrees that the output is JSON.
  json::error_code ec;
  json::parse_options options;
  options.max_depth = JSONSerialization::kMaxDepth + 1;
  json::parse(written, ec, {}, options);
  require(!ec, "written JSON is JSON to an independent reader");
  return 0;
}
