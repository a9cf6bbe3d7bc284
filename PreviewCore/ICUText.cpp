#include "PreviewCore/ICUText.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <unicode/locid.h>

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

std::unique_ptr<icu::RegexPattern> compileICUPattern(std::string_view utf8Pattern,
                                                     std::uint32_t flags, std::string_view file,
                                                     std::uint_least32_t line) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError;
  std::unique_ptr<icu::RegexPattern> pattern(
      icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(icu::StringPiece(
                                     utf8Pattern.data(), static_cast<int32_t>(utf8Pattern.size()))),
                                 flags, parseError, status));
  if (U_FAILURE(status) || !pattern) {
    std::fprintf(stderr, "Fatal error: a pattern does not compile (%s): file %.*s, line %u\n",
                 u_errorName(status), static_cast<int>(file.size()), file.data(),
                 static_cast<unsigned>(line));
    std::abort();
  }
  return pattern;
}

std::unique_ptr<icu::RegexMatcher> makeICUMatcher(const icu::RegexPattern& pattern,
                                                  const ICUText& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(status));
  if (U_FAILURE(status) || !matcher)
    throw std::bad_alloc();
  matcher->reset(text.get());
  return matcher;
}

icu::BreakIterator& characterBreakIterator(const ICUText& text) {
  static const std::unique_ptr<icu::BreakIterator> prototype = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !iterator)
      throw std::bad_alloc();
    return iterator;
  }();
  thread_local const std::unique_ptr<icu::BreakIterator> iterator(prototype->clone());
  if (!iterator)
    throw std::bad_alloc();
  UErrorCode status = U_ZERO_ERROR;
  iterator->setText(text.get(), status);
  if (U_FAILURE(status))
    throw std::bad_alloc();
  return *iterator;
}
