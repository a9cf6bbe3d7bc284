#include "PreviewCore/ICUText.h"

#include <new>

ICUText::ICUText(std::string_view utf8) {
  UErrorCode status = U_ZERO_ERROR;
  // A UText needs a non-null pointer even for empty text.
  const char* bytes = utf8.empty() ? "" : utf8.data();
  text_ = utext_openUTF8(nullptr, bytes, static_cast<int64_t>(utf8.size()), &status);
  if (U_FAILURE(status)) {
    utext_close(text_);
    throw std::bad_alloc();
  }
}

ICUText::~ICUText() {
  utext_close(text_);
}

std::unique_ptr<icu::RegexPattern> compileICUPattern(std::string_view utf8Pattern, uint32_t flags) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError;
  std::unique_ptr<icu::RegexPattern> pattern(
      icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(icu::StringPiece(
                                     utf8Pattern.data(), static_cast<int32_t>(utf8Pattern.size()))),
                                 flags, parseError, status));
  if (U_FAILURE(status))
    return nullptr;
  return pattern;
}

std::unique_ptr<icu::RegexMatcher> makeICUMatcher(const icu::RegexPattern& pattern,
                                                  const ICUText& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(status));
  if (U_FAILURE(status) || !matcher)
    return nullptr;
  matcher->reset(text.get());
  return matcher;
}
