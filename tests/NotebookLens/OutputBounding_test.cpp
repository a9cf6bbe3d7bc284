#include "Foundation/JSONSerialization.h"
#include "Foundation/UTF8.h"
#include "NotebookLens/OutputBounding.h"

#include <boost/json.hpp>
#include <gtest/gtest.h>
#include <string>

namespace json = boost::json;
using namespace OutputBounding;

namespace {

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i)
    out.append(piece);
  return out;
}

// "line0\n" ... with `count` lines, each ending in a line feed when `finalFeed` or not last.
std::string numberedLines(std::size_t count, bool finalFeed) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    out += "line" + std::to_string(i);
    if (finalFeed || i + 1 < count)
      out += '\n';
  }
  return out;
}

std::string lineNotice(std::string_view size, std::string_view label, std::size_t omitted) {
  return "[... Lumivale Quick Look truncated " + std::string(size) + " from " + std::string(label) +
         "; " + std::to_string(omitted) +
         " lines omitted. Open the notebook for the full output. ...]";
}

std::string byteNotice(std::string_view size, std::string_view label, std::size_t total) {
  return "[... Lumivale Quick Look truncated " + std::string(size) + " from " + std::string(label) +
         "; " + std::to_string(total) + " lines total. Open the notebook for the full output. ...]";
}

json::value notebookWithOutput(json::value output) {
  json::object cell{{"cell_type", "code"}, {"source", "x"}, {"outputs", json::array{output}}};
  return json::object{{"cells", json::array{cell}}, {"nbformat", 4}};
}

json::object& firstOutput(json::value& notebook) {
  return notebook.at("cells").at(0).at("outputs").at(0).as_object();
}

std::size_t occurrences(std::string_view text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string_view::npos;
       at = text.find(needle, at + 1))
    ++count;
  return count;
}

} // namespace

TEST(FormatByteCount, UnitsAndRounding) {
  EXPECT_EQ(formatByteCount(0), "0 bytes");
  EXPECT_EQ(formatByteCount(1), "1 bytes");
  EXPECT_EQ(formatByteCount(1023), "1023 bytes");
  EXPECT_EQ(formatByteCount(1024), "1.0 KB");
  EXPECT_EQ(formatByteCount(1536), "1.5 KB");
  EXPECT_EQ(formatByteCount(153601), "150.0 KB");
  EXPECT_EQ(formatByteCount(200000), "195.3 KB");
  EXPECT_EQ(formatByteCount(1048575), "1024.0 KB");
  EXPECT_EQ(formatByteCount(1048576), "1.0 MB");
  EXPECT_EQ(formatByteCount(5ull * 1073741824ull), "5120.0 MB");
}

TEST(TruncateOutputText, LineLimitIsInclusiveAndAFinalLineFeedStartsALine) {
  std::string exact = numberedLines(1000, false);
  EXPECT_EQ(truncateOutputText(exact, streamOutputLimits), exact);

  std::string over = numberedLines(1000, true); // 1001 lines, the last empty
  std::string cut = truncateOutputText(over, streamOutputLimits);
  std::string expectedHead = numberedLines(200, false);
  std::string expectedTail = over.substr(over.find("line921\n"));
  EXPECT_EQ(cut, expectedHead + "\n" +
                     lineNotice(formatByteCount(over.size()), "stream output", 721) + "\n" +
                     expectedTail);
}

TEST(TruncateOutputText, OneThousandAndOneShortLines) {
  std::string text = repeat("a\n", 1001); // 2002 bytes, 1002 pieces
  std::string expected = repeat("a\n", 199) + "a\n" + lineNotice("2.0 KB", "stream output", 722) +
                         "\n" + repeat("a\n", 79);
  EXPECT_EQ(truncateOutputText(text, streamOutputLimits), expected);
}

TEST(TruncateOutputText, TracebackKeepsMoreOfItsEnd) {
  std::string text = numberedLines(601, false);
  std::string cut = truncateOutputText(text, tracebackLimits);
  std::string expected = numberedLines(40, false) + "\n" +
                         lineNotice(formatByteCount(text.size()), "traceback", 441) + "\n" +
                         text.substr(text.find("line481"));
  EXPECT_EQ(cut, expected);
}

TEST(TruncateOutputText, ByteLimitIsInclusive) {
  std::string exact = repeat("x", 153600);
  EXPECT_FALSE(cutOutputText(exact, textOutputLimits));
  std::string over = exact + "x";
  EXPECT_TRUE(cutOutputText(over, textOutputLimits));
}

TEST(TruncateOutputText, ByteCutKeepsTwoThirdsAndOneThirdOfTheBudget) {
  std::string text = repeat("a", 100000) + repeat("b", 100000);
  std::string cut = truncateOutputText(text, streamOutputLimits);
  EXPECT_EQ(cut, repeat("a", 100000) + repeat("b", 2400) + "\n" +
                     byteNotice("195.3 KB", "stream output", 1) + "\n" + repeat("b", 51200));
  EXPECT_EQ(cut.size(), 153724u);
}

TEST(TruncateOutputText, ByteCutCountsCharactersNotBytes) {
  std::string text = repeat("\xE6\x97\xA5", 200000); // 600000 bytes of a CJK character
  std::string cut = truncateOutputText(text, textOutputLimits);
  std::string notice = byteNotice(formatByteCount(600000), "text output", 1);
  EXPECT_EQ(cut,
            repeat("\xE6\x97\xA5", 102400) + "\n" + notice + "\n" + repeat("\xE6\x97\xA5", 51200));
}

TEST(TruncateOutputText, ByteCutKeepsCombiningMarksWithTheirLetters) {
  // e + combining acute accent: one character of three bytes.
  std::string text = repeat("e\xCC\x81", 160000);
  std::string cut = truncateOutputText(text, textOutputLimits);
  std::string notice = byteNotice(formatByteCount(text.size()), "text output", 1);
  EXPECT_EQ(cut, repeat("e\xCC\x81", 102400) + "\n" + notice + "\n" + repeat("e\xCC\x81", 51200));

  // A combining mark right after the last ASCII character of the head belongs to the head; one
  // on the first character of the tail comes with the tail.
  std::string mixed =
      repeat("a", 102400) + "\xCC\x81" + repeat("c", 1000) + "x\xCC\x81" + repeat("b", 51199);
  std::string mixedCut = truncateOutputText(mixed, textOutputLimits);
  std::string mixedNotice = byteNotice(formatByteCount(mixed.size()), "text output", 1);
  EXPECT_EQ(mixedCut,
            repeat("a", 102400) + "\xCC\x81\n" + mixedNotice + "\nx\xCC\x81" + repeat("b", 51199));
}

TEST(TruncateOutputText, ShortTextOfWideCharactersIsCutWithoutOverlap) {
  // 60000 characters of 3 bytes: over the byte limit, but fewer characters than head and tail.
  std::string text = repeat("\xE6\x97\xA5", 60000);
  std::string cut = truncateOutputText(text, textOutputLimits);
  std::string notice = byteNotice(formatByteCount(text.size()), "text output", 1);
  std::size_t at = cut.find("\n" + notice + "\n");
  ASSERT_NE(at, std::string::npos);
  std::string head = cut.substr(0, at);
  std::string tail = cut.substr(at + notice.size() + 2);
  EXPECT_TRUE(isValidUTF8(head));
  EXPECT_TRUE(isValidUTF8(tail));
  EXPECT_EQ(text.compare(0, head.size(), head), 0);
  EXPECT_EQ(text.compare(text.size() - tail.size(), tail.size(), tail), 0);
  EXPECT_LE(head.size() + tail.size(), text.size());
  EXPECT_LE(cut.size(), 153600u + notice.size() + 2);
  // The shares are then taken in bytes: as many whole characters as fit in 102400 bytes, and
  // the last characters that fit in 51200.
  EXPECT_EQ(head.size(), 102399u);
  EXPECT_EQ(tail.size(), 51198u);
}

TEST(TruncateOutputText, LineCutStillTooLargeFallsBackToByteCutOfTheInput) {
  std::string text = repeat("y", 200000) + "\n" + numberedLines(1500, false);
  std::string cut = truncateOutputText(text, streamOutputLimits);
  EXPECT_NE(cut.find(byteNotice(formatByteCount(text.size()), "stream output", 1501)),
            std::string::npos);
  EXPECT_EQ(cut.find("lines omitted"), std::string::npos);
  EXPECT_TRUE(cut.ends_with("line1499"));
}

TEST(TruncateOutputText, CarriageReturns) {
  std::string within = "a\r\nb\rc";
  EXPECT_EQ(truncateOutputText(within, streamOutputLimits), within);

  // CR LF is one line end; lone CR is one too.
  std::string crlf = repeat("r\r\n", 500) + repeat("s\r", 501); // 1002 lines
  std::string cut = truncateOutputText(crlf, streamOutputLimits);
  EXPECT_EQ(cut.find('\r'), std::string::npos);
  EXPECT_NE(cut.find("; 722 lines omitted."), std::string::npos);
  EXPECT_TRUE(cut.starts_with("r\nr\n"));

  std::string longLine = repeat("q", 160000) + "\r\n" + "end";
  std::string byteCut = truncateOutputText(longLine, streamOutputLimits);
  EXPECT_TRUE(byteCut.ends_with("\r\nend"));
  EXPECT_NE(byteCut.find("; 2 lines total."), std::string::npos);
}

TEST(BoundOutputValue, ArraysStayArraysUnlessCut) {
  json::value lines = json::array{"a\n", "b\n", "c"};
  EXPECT_FALSE(boundOutputValue(&lines, streamOutputLimits));
  EXPECT_TRUE(lines.is_array());

  json::array many;
  for (int i = 0; i < 1001; ++i)
    many.emplace_back("l\n");
  json::value manyValue = many;
  EXPECT_TRUE(boundOutputValue(&manyValue, streamOutputLimits));
  ASSERT_TRUE(manyValue.is_string());
  EXPECT_NE(std::string_view(manyValue.get_string()).find("722 lines omitted"), std::string::npos);

  // Elements without their own line feeds are joined with nothing between them: one line.
  json::array traceback;
  for (int i = 0; i < 600; ++i)
    traceback.emplace_back("frame");
  json::value tracebackValue = traceback;
  EXPECT_FALSE(boundOutputValue(&tracebackValue, tracebackLimits));
  EXPECT_TRUE(tracebackValue.is_array());

  EXPECT_FALSE(boundOutputValue(nullptr, streamOutputLimits));
}

TEST(OutputText, DescriptionsOfOtherShapes) {
  EXPECT_EQ(outputText(json::value("abc")), "abc");
  EXPECT_EQ(outputText(json::array{"a", "b"}), "ab");
  EXPECT_EQ(outputText(json::array{"a", 1, nullptr, true}), "a1nulltrue");
  EXPECT_EQ(outputText(json::value(2.5)), "2.5");
  EXPECT_EQ(outputText(json::object{{"k", "v"}}), "{\"k\":\"v\"}");
}

TEST(BoundOutput, StreamsAndTracebacks) {
  json::value notebook = notebookWithOutput(
      json::object{{"output_type", "stream"}, {"name", "stdout"}, {"text", repeat("s\n", 1500)}});
  boundNotebookOutputs(notebook);
  json::object& stream = firstOutput(notebook);
  EXPECT_NE(std::string_view(stream.at("text").as_string()).find("from stream output"),
            std::string::npos);
  EXPECT_EQ(stream.at("name"), "stdout");

  for (const char* type : {"error", "pyerr"}) {
    json::value errorNotebook = notebookWithOutput(
        json::object{{"output_type", type}, {"traceback", numberedLines(601, false)}});
    boundNotebookOutputs(errorNotebook);
    EXPECT_NE(std::string_view(firstOutput(errorNotebook).at("traceback").as_string())
                  .find("from traceback; 441 lines omitted"),
              std::string::npos)
        << type;
  }
}

TEST(BoundOutput, HTMLAtTheLimitStays) {
  json::object output{{"output_type", "display_data"},
                      {"data", json::object{{"text/html", repeat("h", 1048576)}}}};
  json::object before = output;
  boundOutput(output);
  EXPECT_EQ(output, before);
}

TEST(BoundOutput, LargeHTMLGivesWayToPlainText) {
  json::object output{{"output_type", "execute_result"},
                      {"data", json::object{{"text/html", json::array{repeat("h", 1048576), "h"}},
                                            {"text/plain", json::array{"plain\n", "text"}},
                                            {"image/png", "iVBORw0KGgo="}}}};
  boundOutput(output);
  const json::object& data = output.at("data").as_object();
  EXPECT_FALSE(data.contains("text/html"));
  EXPECT_EQ(data.at("text/plain"),
            "[Lumivale Quick Look used text/plain because text/html output was 1.0 MB.]\n\n"
            "plain\ntext");
  EXPECT_EQ(data.at("image/png"), "iVBORw0KGgo=");
}

TEST(BoundOutput, LargeHTMLWithoutPlainTextIsOmitted) {
  json::object output{{"output_type", "display_data"},
                      {"data", json::object{{"text/html", repeat("h", 1048577)}}}};
  boundOutput(output);
  EXPECT_EQ(output.at("data").at("text/html"),
            "<pre>[Lumivale Quick Look omitted a large HTML output: 1.0 MB. Open the notebook for "
            "the full output.]</pre>");
}

TEST(BoundOutput, PlainTextComposedBesideLargeHTMLIsBoundedAgain) {
  const std::string used =
      "[Lumivale Quick Look used text/plain because text/html output was 2.0 MB.]\n\n";
  // 200 short lines, 721 more, then 80 long ones: the line cut alone fits the byte limit, but
  // not with the used-plain-text notice in front, so the composed text is byte cut and keeps
  // the first notice in its head.
  std::string plain;
  for (std::size_t width = 1880; width < 1925 && plain.empty(); ++width) {
    std::string candidate =
        repeat("a\n", 921) + repeat(repeat("w", width) + "\n", 79) + repeat("w", width);
    std::string cut = truncateOutputText(candidate, textOutputLimits);
    if (cut.size() <= 153600 && cut.size() + used.size() > 153600)
      plain = candidate;
  }
  ASSERT_FALSE(plain.empty());
  json::object output{
      {"output_type", "execute_result"},
      {"data", json::object{{"text/html", repeat("h", 2 * 1048576)}, {"text/plain", plain}}}};
  boundOutput(output);
  std::string_view text = output.at("data").at("text/plain").as_string();
  EXPECT_TRUE(text.starts_with(used));
  EXPECT_EQ(occurrences(text, "Lumivale Quick Look truncated"), 2u);
  EXPECT_EQ(occurrences(text, "; 721 lines omitted."), 1u);
  EXPECT_EQ(occurrences(text, " lines total."), 1u);
}

TEST(BoundNotebookOutputs, UnexpectedShapesPassThrough) {
  std::string big = repeat("s\n", 1500);
  const json::value cases[] = {
      json::array{json::object{{"cells", json::array{}}}},
      json::object{},
      json::object{{"cells", json::array{json::object{}, 3}}},
      json::object{
          {"cells",
           json::array{json::object{
               {"cell_type", "markdown"},
               {"outputs", json::array{json::object{{"output_type", "stream"}, {"text", big}}}}}}}},
      json::object{
          {"cells",
           json::array{json::object{
               {"cell_type", "Code"},
               {"outputs", json::array{json::object{{"output_type", "stream"}, {"text", big}}}}}}}},
      json::object{
          {"cells",
           json::array{json::object{
               {"cell_type", "code"},
               {"outputs", json::array{json::object{{"output_type", "stream"}, {"text", big}},
                                       "not an object"}}}}}},
      notebookWithOutput(json::object{{"output_type", "stream"}, {"name", "stdout"}}),
      notebookWithOutput(json::object{{"output_type", "error"}, {"ename", "E"}}),
      notebookWithOutput(json::object{{"output_type", "Stream"}, {"text", big}}),
      notebookWithOutput(json::object{{"output_type", "display_data"},
                                      {"data", json::array{repeat("h", 1048577)}}}),
      notebookWithOutput(json::object{{"output_type", "display_data"},
                                      {"data", json::object{{"image/png", repeat("A", 3000000)}}}}),
  };
  for (const json::value& original : cases) {
    json::value copy = original;
    boundNotebookOutputs(copy);
    EXPECT_EQ(copy, original) << JSONSerialization::write(original).substr(0, 200);
  }
}

TEST(TruncateOutputText, SmallLimitsStillCutAtTheMinimumBudget) {
  // maxBytes far below the minimum budget: the cut keeps 666 characters and 333 characters.
  const OutputLimits tiny{"tiny output", 10, 1000, 200, 80};
  std::string text = repeat("a", 700) + repeat("b", 400); // 1100 bytes, one line
  EXPECT_EQ(truncateOutputText(text, tiny), repeat("a", 666) + "\n" +
                                                byteNotice("1.1 KB", "tiny output", 1) + "\n" +
                                                repeat("b", 333));
}

TEST(TruncateOutputText, EmptyTailAddsNoLineFeedAfterTheNotice) {
  // Four pieces, the last empty: two kept from the head, one omitted, and the tail is the
  // empty last piece, so the notice ends the text.
  const OutputLimits fewLines{"few lines", 1000000, 3, 2, 1};
  EXPECT_EQ(truncateOutputText("a\nb\nc\n", fewLines),
            "a\nb\n" + lineNotice("6 bytes", "few lines", 1));
}

TEST(BoundNotebookOutputs, OddCellsAndOutputsArePassedOverOneByOne) {
  std::string big = repeat("s\n", 1500);
  json::object stream{{"output_type", "stream"}, {"name", "stdout"}, {"text", big}};
  json::value notebook = json::object{
      {"cells",
       json::array{
           json::object{}, json::object{{"cell_type", 3}, {"outputs", json::array{stream}}},
           json::object{{"cell_type", "code"}, {"outputs", json::array{stream}}},
           json::object{{"cell_type", "code"}, {"outputs", json::array{json::object{}, stream}}}}}};
  boundNotebookOutputs(notebook);
  const json::array& cells = notebook.at("cells").as_array();
  EXPECT_EQ(cells.at(0), json::object{});
  EXPECT_EQ(cells.at(1).at("outputs").at(0).at("text"), json::value(big));
  EXPECT_NE(std::string_view(cells.at(2).at("outputs").at(0).at("text").as_string())
                .find("; 1221 lines omitted."),
            std::string::npos);
  EXPECT_EQ(cells.at(3).at("outputs").at(0), json::object{});
  EXPECT_TRUE(cells.at(3).at("outputs").at(1).at("text").is_string());
  EXPECT_NE(cells.at(3).at("outputs").at(1).at("text"), json::value(big));
}

TEST(BoundOutput, DataIsBoundedWhateverTheOutputType) {
  // A stream output that also carries results: both parts are bounded.
  json::object stream{{"output_type", "stream"},
                      {"text", "ok\n"},
                      {"data", json::object{{"text/html", repeat("h", 1048577)}}}};
  boundOutput(stream);
  EXPECT_EQ(stream.at("text"), "ok\n");
  EXPECT_TRUE(std::string_view(stream.at("data").at("text/html").as_string())
                  .starts_with("<pre>[Lumivale Quick Look omitted a large HTML output: 1.0 MB."));

  // No usable "output_type": results are still bounded; the plain text beside a large HTML
  // result is cut by its own limits once and then fits.
  std::string plain = repeat("p\n", 1500);
  for (json::value type : {json::value(7), json::value(nullptr)}) {
    json::object output{
        {"output_type", type},
        {"data", json::object{{"text/html", repeat("h", 3 * 1048576)}, {"text/plain", plain}}}};
    boundOutput(output);
    const json::object& data = output.at("data").as_object();
    EXPECT_FALSE(data.contains("text/html"));
    EXPECT_EQ(data.at("text/plain").as_string(),
              "[Lumivale Quick Look used text/plain because text/html output was 3.0 MB.]\n\n" +
                  truncateOutputText(plain, textOutputLimits));
  }
  json::object untyped{{"data", json::object{{"text/plain", plain}}}};
  boundOutput(untyped);
  EXPECT_EQ(untyped.at("data").at("text/plain").as_string(),
            truncateOutputText(plain, textOutputLimits));
}

TEST(TruncateOutputText, DenseLineEndsAreAllCounted) {
  // Every byte a line end, so whole machine words match at once.
  EXPECT_EQ(truncateOutputText(repeat("\n", 999), streamOutputLimits), repeat("\n", 999));
  std::string cut = truncateOutputText(repeat("\n", 1000), streamOutputLimits);
  EXPECT_EQ(cut, repeat("\n", 199) + "\n" + lineNotice("1000 bytes", "stream output", 721) + "\n" +
                     repeat("\n", 79));
  EXPECT_NE(
      truncateOutputText(repeat("\r\n", 1000), streamOutputLimits).find("; 721 lines omitted."),
      std::string::npos);
  EXPECT_EQ(truncateOutputText(repeat("\r\n", 999), streamOutputLimits), repeat("\r\n", 999));
}
