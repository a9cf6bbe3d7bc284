#include "PreviewCore/ContentDetection.h"

#include "Foundation/ASCII.h"
#include "PreviewCore/Graphemes.h"
#include "PreviewCore/ICUText.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace ContentDetection {

namespace {

// A fence opener at the start of a line (after blanks), then an optional "{" and ".", then the
// label in group 1.
constexpr std::string_view kFenceLabelPattern =
    R"((?m)^[ \t]*(?:```|~~~)[ \t]*(?:\{[ \t]*\.?)?([A-Za-z0-9+_.-]+))";
// A whole "::: mermaid" container line, in any case.
constexpr std::string_view kMermaidContainerPattern =
    R"((?im)^[ \t]*:::[ \t]*(?:mermaid|mmd)[ \t]*$)";

struct Patterns {
  std::unique_ptr<icu::RegexPattern> fenceLabel = compileICUPattern(kFenceLabelPattern);
  std::unique_ptr<icu::RegexPattern> mermaidContainer = compileICUPattern(kMermaidContainerPattern);
};
const Patterns& patterns() {
  static const Patterns compiled;
  return compiled;
}

// Fence labels (lower case) that name a Prism component by another name.
const std::map<std::string, std::string, std::less<>>& aliases() {
  static const std::map<std::string, std::string, std::less<>> table{
      {"js", "javascript"}, {"ts", "typescript"}, {"py", "python"},   {"rb", "ruby"},
      {"sh", "bash"},       {"shell", "bash"},    {"html", "markup"}, {"xml", "markup"},
      {"svg", "markup"},    {"c++", "cpp"},       {"h", "c"},         {"hpp", "cpp"},
      {"objc", "c"},
  };
  return table;
}

// The Prism components a fence may select, each with the components it needs loaded too.
const std::map<std::string, std::vector<std::string>, std::less<>>& components() {
  static const std::map<std::string, std::vector<std::string>, std::less<>> table{
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
      {"markup", {}},
  };
  return table;
}

// ---------------------------------------------------------------------------------------------
// Line-anchored patterns over candidate lines only.
//
// Both patterns start with "^[ \t]*" and then a fixed opener ("```", "~~~" or ":::"), and none
// of their parts can match a line terminator, so a match always lies inside one line that
// holds the opener after nothing but blanks. Only those lines are handed to ICU (as a region of
// the whole text, whose anchoring bounds make "^" and "$" match at the region's ends, as they
// do at line ends in multi-line mode). The lines are ICU's: they end at LF, VT, FF, CR, CR LF,
// U+0085, U+2028 and U+2029.

bool endsLineBefore(std::string_view text, std::size_t offset) {
  if (offset == 0)
    return true;
  const unsigned char c = static_cast<unsigned char>(text[offset - 1]);
  if (c >= '\n' && c <= '\r')
    return true;
  if (offset >= 2 && c == 0x85 && static_cast<unsigned char>(text[offset - 2]) == 0xC2)
    return true;
  return offset >= 3 && (c == 0xA8 || c == 0xA9) &&
         static_cast<unsigned char>(text[offset - 2]) == 0x80 &&
         static_cast<unsigned char>(text[offset - 3]) == 0xE2;
}

std::size_t lineEnd(std::string_view text, std::size_t from) {
  const std::size_t size = text.size();
  for (std::size_t i = from; i < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c >= '\n' && c <= '\r')
        return i;
    } else if (c == 0xC2) {
      if (i + 1 < size && static_cast<unsigned char>(text[i + 1]) == 0x85)
        return i;
    } else if (c == 0xE2) {
      if (i + 2 < size && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
          (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
           static_cast<unsigned char>(text[i + 2]) == 0xA9))
        return i;
    }
  }
  return size;
}

// The next occurrence of the three-character opener at or after `from`, or text.size().
std::size_t findOpener(std::string_view text, std::string_view opener, std::size_t from) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin + std::min(from, text.size());
  while (end - p >= 3) {
    const void* found = std::memchr(p, opener[0], static_cast<std::size_t>(end - p - 2));
    if (!found)
      break;
    p = static_cast<const char*>(found);
    if (p[1] == opener[1] && p[2] == opener[2])
      return static_cast<std::size_t>(p - begin);
    ++p;
  }
  return text.size();
}

// Calls visit(lineStart, lineEnd) for every line whose first non-blank characters are one of
// the openers, in text order, while visit returns true.
template <class Visit>
void forEachOpenerLine(std::string_view text, std::initializer_list<std::string_view> openers,
                       Visit&& visit) {
  std::vector<std::size_t> next(openers.size(), 0);
  std::vector<std::string_view> list(openers);
  for (std::size_t i = 0; i < list.size(); ++i)
    next[i] = findOpener(text, list[i], 0);
  std::size_t cursor = 0;
  for (;;) {
    std::size_t hit = text.size();
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (next[i] < cursor)
        next[i] = findOpener(text, list[i], cursor);
      hit = std::min(hit, next[i]);
    }
    if (hit == text.size())
      return;
    std::size_t start = hit;
    while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t'))
      --start;
    if (!endsLineBefore(text, start)) {
      cursor = hit + 1;
      continue;
    }
    const std::size_t end = lineEnd(text, hit);
    if (!visit(start, end))
      return;
    cursor = end;
  }
}

// Calls visit(label) for each fence label in text order while it returns true. Fence lines
// repeat a lot ("```python", "```"), so the pattern's answer is kept per distinct line text:
// over the same region text it always answers the same.
template <class Visit> void forEachFenceLabel(std::string_view text, Visit&& visit) {
  const icu::RegexPattern& pattern = *patterns().fenceLabel;
  ICUText utext(text);
  std::unique_ptr<icu::RegexMatcher> matcher;
  // Line text -> the label's offset and length within the line (length 0: no label).
  std::unordered_map<std::string_view, std::pair<std::size_t, std::size_t>> answers;
  forEachOpenerLine(text, {"```", "~~~"}, [&](std::size_t start, std::size_t end) {
    const std::string_view line = text.substr(start, end - start);
    auto [answer, isNew] = answers.try_emplace(line, 0, 0);
    if (isNew) {
      if (!matcher)
        matcher = makeICUMatcher(pattern, utext);
      UErrorCode status = U_ZERO_ERROR;
      matcher->region(static_cast<int64_t>(start), static_cast<int64_t>(end), status);
      if (U_SUCCESS(status) && matcher->lookingAt(status) && U_SUCCESS(status)) {
        const int64_t labelStart = matcher->start64(1, status);
        const int64_t labelEnd = matcher->end64(1, status);
        if (U_SUCCESS(status) && labelStart >= 0 && labelEnd > labelStart)
          answer->second = {static_cast<std::size_t>(labelStart) - start,
                            static_cast<std::size_t>(labelEnd - labelStart)};
      }
    }
    if (answer->second.second == 0)
      return true;
    return visit(line.substr(answer->second.first, answer->second.second));
  });
}

bool contains(std::string_view text, std::string_view opener) {
  return findOpener(text, opener, 0) < text.size();
}

// ---------------------------------------------------------------------------------------------
// Mathematics

// Horizontal white space: tab and the space separators (Unicode category Zs).
inline std::size_t horizontalSpaceLength(std::string_view text, std::size_t at) {
  const unsigned char c = static_cast<unsigned char>(text[at]);
  if (c == ' ' || c == '\t')
    return 1;
  if (c < 0x80)
    return 0;
  auto byte = [&](std::size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
  };
  if (c == 0xC2 && byte(1) == 0xA0)
    return 2; // U+00A0
  if (c == 0xE1 && byte(1) == 0x9A && byte(2) == 0x80)
    return 3; // U+1680
  if (c == 0xE2 && byte(1) == 0x80 && ((byte(2) >= 0x80 && byte(2) <= 0x8A) || byte(2) == 0xAF))
    return 3; // U+2000..U+200A, U+202F
  if (c == 0xE2 && byte(1) == 0x81 && byte(2) == 0x9F)
    return 3; // U+205F
  if (c == 0xE3 && byte(1) == 0x80 && byte(2) == 0x80)
    return 3; // U+3000
  return 0;
}

std::string_view trimHorizontalSpace(std::string_view line) {
  std::size_t start = 0;
  while (start < line.size()) {
    const std::size_t length = horizontalSpaceLength(line, start);
    if (length == 0)
      break;
    start += length;
  }
  line.remove_prefix(start);
  while (!line.empty()) {
    // Step back to the start of the last character.
    std::size_t last = line.size() - 1;
    while (last > 0 && (static_cast<unsigned char>(line[last]) & 0xC0) == 0x80)
      --last;
    if (horizontalSpaceLength(line, last) != line.size() - last)
      break;
    line.remove_suffix(line.size() - last);
  }
  return line;
}

// True when the line begins with the three characters of `fence` (each its own character: a
// combining mark on the third makes it another character).
bool beginsWithFence(std::string_view line, std::string_view fence) {
  return line.substr(0, 3) == fence &&
         (line.size() == 3 || static_cast<unsigned char>(line[3]) < 0x80 ||
          Graphemes::graphemeClusterPrefixBytes(line, 3) == 3);
}

// True when a "$" character is left over once inline code spans are removed: a backtick opens
// a span that the next backtick on the line closes; a backtick without a partner stays text.
bool hasDollarOutsideInlineCode(std::string_view line) {
  bool inSpan = false;
  bool dollarInSpan = false;
  const bool stopped = !Graphemes::forEachSingleByteCluster(line, "`$", [&](std::size_t offset) {
    if (line[offset] == '`') {
      inSpan = !inSpan;
      dollarInSpan = false;
      return true;
    }
    if (!inSpan)
      return false; // a "$" outside any span
    dollarInSpan = true;
    return true;
  });
  // A span left open was no span: its "$" characters count after all.
  return stopped || (inSpan && dollarInSpan);
}

} // namespace

bool hasCodeFences(std::string_view markdown) {
  return contains(markdown, "```") || contains(markdown, "~~~");
}

std::vector<std::string> fenceLanguages(std::string_view markdown) {
  std::set<std::string> selected;
  std::unordered_set<std::string_view> seen;
  forEachFenceLabel(markdown, [&](std::string_view label) {
    if (!seen.insert(label).second)
      return true;
    std::string name = ASCII::lowercased(label);
    if (auto alias = aliases().find(name); alias != aliases().end())
      name = alias->second;
    if (auto component = components().find(name); component != components().end()) {
      selected.insert(component->first);
      selected.insert(component->second.begin(), component->second.end());
    }
    return true;
  });
  return {selected.begin(), selected.end()};
}

bool hasMermaidBlock(std::string_view markdown) {
  {
    ICUText utext(markdown);
    std::unique_ptr<icu::RegexMatcher> matcher;
    bool found = false;
    forEachOpenerLine(markdown, {":::"}, [&](std::size_t start, std::size_t end) {
      if (!matcher)
        matcher = makeICUMatcher(*patterns().mermaidContainer, utext);
      UErrorCode status = U_ZERO_ERROR;
      matcher->region(static_cast<int64_t>(start), static_cast<int64_t>(end), status);
      found = U_SUCCESS(status) && matcher->lookingAt(status) && U_SUCCESS(status);
      return !found;
    });
    if (found)
      return true;
  }
  bool found = false;
  forEachFenceLabel(markdown, [&](std::string_view label) {
    found = ASCII::equalsIgnoringCase(label, "mermaid") || ASCII::equalsIgnoringCase(label, "mmd");
    return !found;
  });
  return found;
}

bool hasMathematics(std::string_view markdown) {
  if (markdown.find('$') == std::string_view::npos)
    return false;
  bool inFence = false;
  std::string_view marker;
  std::size_t at = 0;
  const std::size_t size = markdown.size();
  // The next carriage return, found ahead once and again only when passed.
  std::size_t nextCR = markdown.find('\r');
  while (at <= size) {
    // Lines end at LF, CR LF or a lone CR, the line ends a Markdown parser knows.
    const void* lf = std::memchr(markdown.data() + at, '\n', size - at);
    std::size_t end =
        lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - markdown.data()) : size;
    if (nextCR < at)
      nextCR = markdown.find('\r', at);
    end = std::min(end, nextCR);
    const std::string_view line = trimHorizontalSpace(markdown.substr(at, end - at));
    if (end < size && markdown[end] == '\r' && end + 1 < size && markdown[end + 1] == '\n')
      at = end + 2;
    else
      at = end + 1;

    if (inFence) {
      if (line == marker)
        inFence = false;
      continue;
    }
    if (beginsWithFence(line, "```")) {
      inFence = true;
      marker = "```";
      continue;
    }
    if (beginsWithFence(line, "~~~")) {
      inFence = true;
      marker = "~~~";
      continue;
    }
    if (line.find('$') != std::string_view::npos && hasDollarOutsideInlineCode(line))
      return true;
  }
  return false;
}

} // namespace ContentDetection
