// Fuzzes the content tests that pick a page's assets (code fences and their languages, Mermaid
// blocks, mathematics). Each fast test must agree with a slow reference written plainly here:
// a whole-text regular-expression search for the fence and container patterns, and a line by
// line walk with ICU's own grapheme segmentation for mathematics. The references run on valid
// UTF-8 only, as documents are decoded strictly before these tests see them.
#include "Foundation/UTF8.h"
#include "FuzzSupport.h"
#include "PreviewCore/ContentDetection.h"

#include <map>
#include <memory>
#include <set>
#include <unicode/brkiter.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <vector>

using FuzzSupport::require;

namespace {

// The patterns as the detection documents them, searched over the whole text.
constexpr char16_t kFenceLabel[] =
    uR"((?m)^[ \t]*(?:```|~~~)[ \t]*(?:\{[ \t]*\.?)?([A-Za-z0-9+_.-]+))";
constexpr char16_t kMermaidContainer[] = uR"((?im)^[ \t]*:::[ \t]*(?:mermaid|mmd)[ \t]*$)";

std::unique_ptr<icu::RegexPattern> compile(const char16_t* pattern) {
  UParseError parseError;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexPattern> compiled(
      icu::RegexPattern::compile(icu::UnicodeString(pattern), 0, parseError, status));
  require(U_SUCCESS(status), "a reference pattern compiles");
  return compiled;
}

std::vector<std::string> allMatches(const icu::RegexPattern& pattern,
                                    const icu::UnicodeString& text, int group) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(text, status));
  std::vector<std::string> found;
  while (matcher->find(status) && U_SUCCESS(status)) {
    std::string utf8;
    matcher->group(group, status).toUTF8String(utf8);
    found.push_back(utf8);
  }
  return found;
}

std::string lowercase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::vector<std::string> slowFenceLanguages(const std::vector<std::string>& labels) {
  static const std::map<std::string, std::string> aliases{
      {"js", "javascript"}, {"ts", "typescript"}, {"py", "python"},   {"rb", "ruby"},
      {"sh", "bash"},       {"shell", "bash"},    {"html", "markup"}, {"xml", "markup"},
      {"svg", "markup"},    {"c++", "cpp"},       {"h", "c"},         {"hpp", "cpp"},
      {"objc", "c"}};
  static const std::map<std::string, std::vector<std::string>> components{
      {"javascript", {"clike"}},
      {"typescript", {"javascript", "clike"}},
      {"swift", {"clike"}},
      {"rust", {}},
      {"python", {}},
      {"bash", {}},
      {"shell-session", {"bash"}},
      {"json", {}},
      {"yaml", {}},
      {"sql", {}},
      {"go", {"clike"}},
      {"ruby", {"clike"}},
      {"c", {"clike"}},
      {"cpp", {"c", "clike"}},
      {"java", {"clike"}},
      {"css", {}},
      {"markup", {}}};
  std::set<std::string> selected;
  for (const std::string& label : labels) {
    std::string name = lowercase(label);
    if (auto alias = aliases.find(name); alias != aliases.end())
      name = alias->second;
    if (auto component = components.find(name); component != components.end()) {
      selected.insert(component->first);
      selected.insert(component->second.begin(), component->second.end());
    }
  }
  return {selected.begin(), selected.end()};
}

bool isHorizontalSpace(UChar32 c) {
  return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR;
}

// The line without leading and trailing horizontal white space (code point by code point).
icu::UnicodeString trimmed(std::string_view line) {
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(line);
  int32_t start = 0, end = text.length();
  while (start < end && isHorizontalSpace(text.char32At(start)))
    start = text.moveIndex32(start, 1);
  while (end > start) {
    const int32_t last = text.moveIndex32(end, -1);
    if (!isHorizontalSpace(text.char32At(last)))
      break;
    end = last;
  }
  return icu::UnicodeString(text, start, end - start);
}

std::vector<icu::UnicodeString> clusters(const icu::UnicodeString& text) {
  static thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> made(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    require(U_SUCCESS(status), "a character break iterator can be made");
    return made;
  }();
  iterator->setText(text);
  std::vector<icu::UnicodeString> out;
  int32_t start = iterator->first();
  for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE;
       start = end, end = iterator->next())
    out.push_back(icu::UnicodeString(text, start, end - start));
  return out;
}

bool startsWithFence(const std::vector<icu::UnicodeString>& line, const char16_t* mark) {
  return line.size() >= 3 && line[0] == mark && line[1] == mark && line[2] == mark;
}

bool slowHasMathematics(std::string_view markdown) {
  bool inFence = false;
  icu::UnicodeString marker;
  std::size_t at = 0;
  for (;;) {
    std::size_t end = markdown.find_first_of("\r\n", at);
    const std::string_view raw =
        markdown.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    const icu::UnicodeString line = trimmed(raw);
    const std::vector<icu::UnicodeString> parts = clusters(line);
    if (inFence) {
      if (line == marker)
        inFence = false;
    } else if (startsWithFence(parts, u"`") || startsWithFence(parts, u"~")) {
      inFence = true;
      marker = startsWithFence(parts, u"`") ? u"```" : u"~~~";
    } else {
      bool inSpan = false, dollarInSpan = false;
      for (const icu::UnicodeString& cluster : parts) {
        if (cluster == u"`") {
          inSpan = !inSpan;
          dollarInSpan = false;
        } else if (cluster == u"$") {
          if (!inSpan)
            return true;
          dollarInSpan = true;
        }
      }
      if (inSpan && dollarInSpan)
        return true;
    }
    if (end == std::string_view::npos)
      return false;
    at = end +
         (markdown[end] == '\r' && end + 1 < markdown.size() && markdown[end + 1] == '\n' ? 2 : 1);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view markdown = FuzzSupport::bytes(data, size);
  const bool fences = ContentDetection::hasCodeFences(markdown);
  const std::vector<std::string> languages = ContentDetection::fenceLanguages(markdown);
  const bool mermaid = ContentDetection::hasMermaidBlock(markdown);
  const bool mathematics = ContentDetection::hasMathematics(markdown);

  require(fences == (markdown.find("```") != std::string_view::npos ||
                     markdown.find("~~~") != std::string_view::npos),
          "hasCodeFences finds three backticks or tildes");
  require(fences || languages.empty(), "no fence, no languages");
  require(!mathematics || markdown.find('$') != std::string_view::npos, "no dollar, no maths");
  if (!isValidUTF8(markdown) || size > 4096)
    return 0;

  static const std::unique_ptr<icu::RegexPattern> fenceLabel = compile(kFenceLabel);
  static const std::unique_ptr<icu::RegexPattern> container = compile(kMermaidContainer);
  const icu::UnicodeString text = icu::UnicodeString::fromUTF8(markdown);
  const std::vector<std::string> labels = allMatches(*fenceLabel, text, 1);
  require(languages == slowFenceLanguages(labels), "fenceLanguages agrees with a plain search");

  bool slowMermaid = !allMatches(*container, text, 0).empty();
  for (const std::string& label : labels)
    slowMermaid = slowMermaid || lowercase(label) == "mermaid" || lowercase(label) == "mmd";
  require(mermaid == slowMermaid, "hasMermaidBlock agrees with a plain search");

  require(mathematics == slowHasMathematics(markdown),
          "hasMathematics agrees with a plain line walk");
  return 0;
}
