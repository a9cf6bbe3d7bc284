#include "Foundation/ASCII.h"
#include "Foundation/JSONSerialization.h"
#include "Foundation/NSError.h"

#include <algorithm>
#include <boost/json.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <span>
#include <string>
#include <vector>

using ::testing::HasSubstr;
using ::testing::Not;
namespace json = boost::json;

namespace {

NSError parseError(std::string_view text) {
  try {
    JSONSerialization::parse(text);
  } catch (const NSErrorException& e) {
    return e.error();
  }
  ADD_FAILURE() << "parsed without error: " << text;
  return {};
}

std::string roundTripString(std::string_view text) {
  std::string literal = JSONSerialization::stringLiteral(text);
  json::value parsed = JSONSerialization::parse("[" + literal + "]");
  const json::string& s = parsed.as_array().at(0).as_string();
  return std::string(s.data(), s.size());
}

std::string nested(std::size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

} // namespace

TEST(JSONSerializationTest, StringLiteralEscaping) {
  using JSONSerialization::stringLiteral;
  EXPECT_EQ(stringLiteral(""), R"("")");
  EXPECT_EQ(stringLiteral("a/b"), R"("a\/b")");
  EXPECT_EQ(stringLiteral("q\"b\\"), R"("q\"b\\")");
  EXPECT_EQ(stringLiteral("\b\f\n\r\t"), R"("\b\f\n\r\t")");
  EXPECT_EQ(stringLiteral(std::string("\0\x01\x1f\x7f", 4)), "\"\\u0000\\u0001\\u001f\x7f\"");
  EXPECT_EQ(stringLiteral("\x1b"), R"("\u001b")");
  EXPECT_EQ(stringLiteral("caf\u00e9 \u2028\u2029 \U0001F600"),
            "\"caf\u00e9 \u2028\u2029 \U0001F600\"");
  std::string appended = "x=";
  JSONSerialization::appendStringLiteral(appended, "</script>");
  EXPECT_EQ(appended, R"(x="<\/script>")");
}

TEST(JSONSerializationTest, StringRoundTripsAndNeverClosesAScript) {
  std::string allControls;
  for (int c = 0; c < 0x20; ++c)
    allControls.push_back(static_cast<char>(c));
  const std::string cases[] = {
      allControls,
      std::string("nul\0inside", 10),
      "line\u2028para\u2029end",
      "</script><  /SCRIPT></ScRiPt </script",
      "\uffff \ufffe \U0010FFFF \U0001F468\u200D\U0001F469 \u00e9\u0301",
      "plain ascii with 'quotes' and \"doubles\" and \\backslashes\\ and //slashes",
      "$x^2$ ```python\nprint(1)\n```",
  };
  for (const std::string& text : cases) {
    EXPECT_EQ(roundTripString(text), text);
    std::string literal = JSONSerialization::stringLiteral(text);
    EXPECT_THAT(ASCII::lowercased(literal), Not(HasSubstr("</script")));
    EXPECT_THAT(literal, Not(HasSubstr(std::string(1, '\0'))));
  }
}

TEST(JSONSerializationTest, WriterIsCompactAndKeepsMemberOrder) {
  json::value value = JSONSerialization::parse(
      R"( { "z" : 1 , "a" : [ true , false , null , "s/t" ] , "m" : { } , "e" : [ ] } )");
  EXPECT_EQ(JSONSerialization::write(value),
            R"({"z":1,"a":[true,false,null,"s\/t"],"m":{},"e":[]})");
  EXPECT_EQ(JSONSerialization::write(JSONSerialization::parse("\xEF\xBB\xBF {\"a\":[]}")),
            R"({"a":[]})");
  const std::string mixed = R"({"a":[{"b":[]},{},[[]]],"c":{"d":[1,[2,[3,{"e":null}]]]},"f":"g"})";
  EXPECT_EQ(JSONSerialization::write(JSONSerialization::parse(mixed)), mixed);
  EXPECT_EQ(JSONSerialization::write(json::value(42)), "42");
  std::string out = "prefix:";
  JSONSerialization::append(out, json::value(json::array{1, 2}));
  EXPECT_EQ(out, "prefix:[1,2]");
}

TEST(JSONSerializationTest, Numbers) {
  json::value value = JSONSerialization::parse(
      "[0,-1,9223372036854775807,-9223372036854775808,18446744073709551615,"
      "0.1,1.5,-2.25e-7,1e300,3.0,0.30000000000000004,2.2250738585072014e-308,"
      "1.7976931348623157e308,5e-324,123456789.123456789]");
  const json::array& a = value.as_array();
  EXPECT_TRUE(a[2].is_int64());
  EXPECT_TRUE(a[4].is_uint64());
  EXPECT_EQ(a[4].as_uint64(), 18446744073709551615ull);
  EXPECT_EQ(a[10].as_double(), 0.1 + 0.2);
  EXPECT_EQ(a[12].as_double(), 1.7976931348623157e308);
  EXPECT_EQ(a[13].as_double(), 5e-324);
  EXPECT_EQ(JSONSerialization::write(value),
            "[0,-1,9223372036854775807,-9223372036854775808,18446744073709551615,"
            "0.1,1.5,-2.25e-07,1e+300,3,0.30000000000000004,2.2250738585072014e-308,"
            "1.7976931348623157e+308,5e-324,123456789.12345679]");
  // Shortest form always reads back to the same double.
  std::string written = JSONSerialization::write(value);
  EXPECT_EQ(JSONSerialization::write(JSONSerialization::parse(written)), written);

  NSError error = parseError("[1e400]");
  EXPECT_THAT(error.localizedDescription, HasSubstr("number out of range"));
  EXPECT_THROW(JSONSerialization::write(json::value(json::array{std::nan("")})), NSErrorException);
}

TEST(JSONSerializationTest, ParseErrorsSayWhatAndWhere) {
  NSError error = parseError("{\n  \"a\": 1,\n  \"b\" 2\n}");
  EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
  EXPECT_EQ(error.code, 3840);
  EXPECT_THAT(error.localizedDescription, HasSubstr("isn\u2019t valid JSON"));
  EXPECT_THAT(error.localizedDescription, HasSubstr("line 3, column 7"));

  EXPECT_THAT(parseError("").localizedDescription, HasSubstr("empty"));
  EXPECT_THAT(parseError(" \n\t ").localizedDescription, HasSubstr("empty"));
  EXPECT_EQ(parseError("").code, 3840);

  error = parseError("[1, 2] x");
  EXPECT_THAT(error.localizedDescription, HasSubstr("after the end"));
  EXPECT_THAT(error.localizedDescription, HasSubstr("line 1, column 8"));

  error = parseError("\n  \"just a string\"");
  EXPECT_THAT(error.localizedDescription, HasSubstr("object or an array"));
  EXPECT_THAT(error.localizedDescription, HasSubstr("line 2, column 3"));
  EXPECT_THAT(parseError("42").localizedDescription, HasSubstr("object or an array"));

  // Columns count characters, not bytes.
  EXPECT_THAT(parseError("[\"\u00e9\u00e9\", ?]").localizedDescription,
              HasSubstr("line 1, column 8"));
  EXPECT_THAT(parseError("{\"a\": [1, 2").localizedDescription, HasSubstr("ends before"));
  EXPECT_THAT(parseError("[\"\xff\"]").localizedDescription, HasSubstr("line 1"));
  EXPECT_THAT(parseError("[1,]").localizedDescription, HasSubstr("valid JSON"));
  EXPECT_THAT(parseError("[NaN]").localizedDescription, HasSubstr("valid JSON"));
}

TEST(JSONSerializationTest, DepthIsBoundedOnBothSides) {
  const std::size_t limit = JSONSerialization::kMaxDepth;
  json::value deepest = JSONSerialization::parse(nested(limit));
  EXPECT_EQ(JSONSerialization::write(deepest), nested(limit));

  NSError error = parseError(nested(limit + 1));
  EXPECT_THAT(error.localizedDescription, HasSubstr("levels deep"));
  EXPECT_EQ(error.code, 3840);
  EXPECT_THROW(JSONSerialization::parse(std::string(1000000, '[')), NSErrorException);

  json::value tooDeep = json::array{};
  tooDeep.as_array().push_back(deepest);
  EXPECT_THROW(JSONSerialization::write(tooDeep), NSErrorException);
  json::value objects = json::object{};
  json::value* inner = &objects;
  for (std::size_t i = 0; i < limit; ++i)
    inner = &(inner->as_object()["k"] = json::object{});
  EXPECT_THROW(JSONSerialization::write(objects), NSErrorException);
}

// Long strings go through the wide scan: every special byte at every offset around the block
// edges must still be found.
TEST(JSONSerializationTest, LongStringsEscapeAtEveryOffset) {
  const std::string specials = std::string("\"\\/\n\x01\x1f", 6) + std::string(1, '\0');
  for (char special : specials) {
    for (std::size_t at = 0; at < 40; ++at) {
      std::string text(40, 'a');
      text[at] = special;
      text += "\u00e9\U0001F600 tail";
      std::string literal = JSONSerialization::stringLiteral(text);
      EXPECT_EQ(literal.size(),
                text.size() + 2 +
                    (special == '\x01' || special == '\x1f' || special == '\0' ? 5 : 1));
      EXPECT_EQ(roundTripString(text), text);
    }
  }
}

TEST(JSONSerializationTest, DenseSpecialsMatchASimpleEscaper) {
  auto simple = [](std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
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
  };
  const std::string alphabet = std::string("ab/\"\\\n\t\x01\x1f\0\xc3\xa9", 13);
  std::uint32_t state = 12345;
  // The last rounds are long: the escaped text crosses the writer's chunks at every offset
  // near their end, the closing quotation mark too.
  for (int round = 0; round < 2080; ++round) {
    std::string text;
    const std::size_t length =
        static_cast<std::size_t>(round < 2000 ? round % 300 : 16300 + (round - 2000) * 13 % 100);
    for (std::size_t i = 0; i < length; ++i) {
      state = state * 1103515245u + 12345u;
      text += alphabet[(state >> 16) % (round % 7 == 0 ? 2 : alphabet.size() - 2)];
    }
    ASSERT_EQ(JSONSerialization::stringLiteral(text), simple(text)) << round;
    std::string appended = "prefix";
    JSONSerialization::appendStringLiteral(appended, text);
    ASSERT_EQ(appended, "prefix" + simple(text));
  }
}

// A tree built in a document arena is the same tree, lives on after the parse, and takes
// changes (the arena grows past its first block when it must).
TEST(JSONSerializationTest, DocumentArenaHoldsTheSameTree) {
  const std::string text = R"({"cells":[{"source":["a","\u00e9\/"],"n":1.5,"k":null}],"big":")" +
                           std::string(5000, 'x') + R"("})";
  json::value tree = JSONSerialization::parse(text, JSONSerialization::documentStorage(64));
  EXPECT_EQ(tree, JSONSerialization::parse(text));
  EXPECT_NE(tree.storage().get(), json::storage_ptr().get());
  tree.as_object()["big"] = std::string(100000, 'y');
  tree.as_object()["cells"].as_array().emplace_back("more");
  json::value moved = std::move(tree);
  EXPECT_EQ(moved.at("big").as_string().size(), 100000u);
  EXPECT_EQ(JSONSerialization::write(moved.at("cells")),
            R"([{"source":["a","é\/"],"n":1.5,"k":null},"more"])");
  EXPECT_THROW(JSONSerialization::parse("{", JSONSerialization::documentStorage(1 << 20)),
               NSErrorException);
}

namespace {

// Leaves strings of at least 8 bytes under "keep" (at any depth below it) in the text.
bool underKeep(std::span<const JSONSerialization::PathStep> path) {
  return std::any_of(path.begin(), path.end(), [](const JSONSerialization::PathStep& step) {
    return !step.inArray && step.name == "keep";
  });
}
constexpr JSONSerialization::SourceReferencing kKeepLong{8, &underKeep};

} // namespace

// Named strings stay in the text (escaped ones, short ones and keys never do); written with
// their text they give what the ordinary tree gives, and without it they cannot be written.
TEST(JSONSerializationTest, StringsLeftInTheTextWriteAsTheOrdinaryTree) {
  const std::string text =
      R"({"keep":["long/enough/1","short","esc\/aped/xx",{"keep":"second/long"}],)"
      R"("other":"not kept at all","keep\u0031":"long but not named"})";
  std::vector<JSONSerialization::SourceReference> references;
  const json::value tree =
      JSONSerialization::parse(text, json::storage_ptr(), kKeepLong, references);
  ASSERT_EQ(references.size(), 2u);
  EXPECT_EQ(text.substr(references[0].offset, references[0].length), "long/enough/1");
  EXPECT_EQ(text.substr(references[1].offset, references[1].length), "second/long");
  EXPECT_TRUE(JSONSerialization::sourceReference(tree.at("keep").at(0).as_string()));
  EXPECT_FALSE(JSONSerialization::sourceReference(tree.at("keep").at(2).as_string()));

  std::string written;
  JSONSerialization::appendReferencing(
      written, tree, [&](std::string& out, const JSONSerialization::SourceReference& r) {
        JSONSerialization::appendStringLiteral(out,
                                               std::string_view(text).substr(r.offset, r.length));
      });
  EXPECT_EQ(written, JSONSerialization::write(JSONSerialization::parse(text)));
  EXPECT_THROW(JSONSerialization::write(tree), NSErrorException);
}

// Escaping forward inside one buffer: whatever the gap between where the text is and where its
// escaped form goes, what is written is the escaped form of what was read, and nothing not yet
// read is overwritten.
TEST(JSONSerializationTest, EscapingForwardNeverOverwritesWhatIsStillToBeRead) {
  const std::string alphabet = std::string("ab/\"\\\n\x01\xc3\xa9xyzw", 13);
  std::uint32_t state = 99;
  for (int round = 0; round < 400; ++round) {
    std::string text;
    for (std::size_t i = 0, n = static_cast<std::size_t>(round * 7 % 700); i < n; ++i) {
      state = state * 1103515245u + 12345u;
      text += alphabet[(state >> 16) % (round % 3 == 0 ? 6 : alphabet.size())];
    }
    const std::size_t gap = static_cast<std::size_t>(round % 5 == 0 ? round * 3 : round % 130);
    std::string buffer(gap, '#');
    buffer += text;
    buffer += std::string(64, '$');
    const char* from = buffer.data() + gap;
    const auto progress = JSONSerialization::escapeForward(from, from + text.size(), buffer.data(),
                                                           buffer.data() + buffer.size());
    const std::size_t read = static_cast<std::size_t>(progress.from - from);
    std::string expected;
    JSONSerialization::appendEscaped(expected, std::string_view(text).substr(0, read));
    ASSERT_EQ(std::string(buffer.data(), progress.to), expected) << round;
    ASSERT_EQ(buffer.substr(gap + read, text.size() - read), text.substr(read)) << round;
    const std::size_t growth = JSONSerialization::stringLiteral(text).size() - 2 - text.size();
    if (growth + 6 <= gap) {
      ASSERT_EQ(read, text.size()) << "stopped early with a gap of " << gap;
    }
  }
}

// Texts that fill the writer's chunk up to the closing quotation mark and one byte either side.
TEST(JSONSerializationTest, ChunkBoundariesLoseNothing) {
  for (std::size_t length = 16370; length < 16400; ++length) {
    const std::string plain(length, 'a');
    ASSERT_EQ(JSONSerialization::stringLiteral(plain), "\"" + plain + "\"") << length;
    const std::string slashed = std::string(length, 'a') + "/";
    ASSERT_EQ(JSONSerialization::stringLiteral(slashed), "\"" + plain + "\\/\"") << length;
  }
}
