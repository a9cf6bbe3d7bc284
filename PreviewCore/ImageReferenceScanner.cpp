#include "PreviewCore/ImageReferenceScanner.h"

#include "PreviewCore/ExtensionModule.h"
#include "PreviewCore/ICUText.h"

#include <cstring>
#include <memory>
#include <string>

namespace InlineLocalAssets {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// The characters that end a destination ("[^)\s\"]" in the image pattern), compiled once.
const icu::RegexPattern& destinationEndPattern() {
  static const std::unique_ptr<icu::RegexPattern> pattern = compileICUPattern(R"re([)\s"])re");
  return *pattern;
}

std::size_t find(std::string_view text, std::string_view needle, std::size_t from) {
  if (from >= text.size())
    return npos;
  const void* hit = memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : npos;
}

} // namespace

const icu::RegexPattern& imagePattern() {
  static const std::unique_ptr<icu::RegexPattern> pattern = [] {
    // A failure is reported at the inliner of the extension that runs this code.
    const std::optional<ExtensionModule> module = runningExtension();
    const std::string place =
        std::string(module ? moduleName(*module) : "PreviewCore") + "/InlineLocalAssets";
    return compileICUPattern(R"re(!\[([^\]]*)\]\(([^)\s"]+)(\s+"[^"]*")?\))re", 0, place, 193);
  }();
  return *pattern;
}

// Every match starts at a "![", and its alternative text runs to the first "]" after it, so the
// outcome of a candidate depends only on that "]" (and, past the "(", on where the destination
// ends). Candidates sharing a failed "]" or a failed destination run are skipped without
// matching again; each successful match is taken whole, so the results are those of a plain
// leftmost, non-overlapping search.
void forEachImageReference(std::string_view utf8,
                           const std::function<void(const ImageReference&)>& visit) {
  ICUText text(utf8);
  std::unique_ptr<icu::RegexMatcher> matcher = makeICUMatcher(imagePattern(), text);
  std::unique_ptr<icu::RegexMatcher> destinationEnd;
  const int64_t length = static_cast<int64_t>(utf8.size());

  std::size_t nextBracket = npos;    // first "]" after the last candidate's "!["
  std::size_t failedBracket = npos;  // a "]" whose continuation did not match
  std::size_t failedRunStart = npos; // a destination run whose continuation did not match
  std::size_t failedRunEnd = npos;   // ... and the delimiter that ends it
  std::size_t candidate = find(utf8, "![", 0);
  while (candidate != npos) {
    if (nextBracket == npos || nextBracket < candidate + 2) {
      nextBracket = utf8.find(']', candidate + 2);
      if (nextBracket == npos)
        return; // no "]" left: nothing further can match
    }
    const std::size_t bracket = nextBracket;
    const std::size_t runStart = bracket + 2;
    bool knownToFail = bracket == failedBracket;
    if (!knownToFail && failedRunStart != npos && bracket + 1 < utf8.size() &&
        utf8[bracket + 1] == '(' && runStart > failedRunStart && runStart < failedRunEnd)
      knownToFail = true; // same destination run, same delimiter, same outcome
    if (!knownToFail) {
      UErrorCode status = U_ZERO_ERROR;
      matcher->region(static_cast<int64_t>(candidate), length, status);
      if (U_SUCCESS(status) && matcher->lookingAt(status) && U_SUCCESS(status)) {
        ImageReference ref;
        auto bounds = [&](int group, std::size_t& start, std::size_t& end) {
          UErrorCode s = U_ZERO_ERROR;
          int64_t from = matcher->start64(group, s);
          int64_t to = matcher->end64(group, s);
          if (U_FAILURE(s) || from < 0 || to < from)
            from = to = 0;
          start = static_cast<std::size_t>(from);
          end = static_cast<std::size_t>(to);
        };
        bounds(0, ref.start, ref.end);
        bounds(1, ref.altStart, ref.altEnd);
        bounds(2, ref.destinationStart, ref.destinationEnd);
        bounds(3, ref.titleStart, ref.titleEnd);
        visit(ref);
        candidate = find(utf8, "![", ref.end);
        continue;
      }
      failedBracket = bracket;
      if (runStart < utf8.size() && utf8[bracket + 1] == '(') {
        if (!destinationEnd)
          destinationEnd = makeICUMatcher(destinationEndPattern(), text);
        UErrorCode s = U_ZERO_ERROR;
        failedRunStart = runStart;
        failedRunEnd = destinationEnd->find(static_cast<int64_t>(runStart), s) && U_SUCCESS(s)
                           ? static_cast<std::size_t>(destinationEnd->start64(s))
                           : utf8.size();
      }
    }
    candidate = find(utf8, "![", candidate + 1);
  }
}

} // namespace InlineLocalAssets
