// ICUText: ICU's text and pattern objects over UTF-8 that lives elsewhere. A UText reads the
// caller's bytes in place (native indexes are byte offsets), so large documents are never
// copied to UTF-16.
#pragma once

#include <memory>
#include <string_view>
#include <unicode/regex.h>
#include <unicode/utext.h>

// A UText over `utf8`, which must outlive it. Owned by this object; one thread at a time.
class ICUText {
public:
  explicit ICUText(std::string_view utf8);
  ~ICUText();
  ICUText(const ICUText&) = delete;
  ICUText& operator=(const ICUText&) = delete;

  UText* get() const { return text_; }

private:
  UText* text_ = nullptr;
};

// Compiles an ICU regular expression given as UTF-8; null when it does not compile. A compiled
// pattern is immutable and may be shared by all threads (each uses its own matcher).
std::unique_ptr<icu::RegexPattern> compileICUPattern(std::string_view utf8Pattern,
                                                     uint32_t flags = 0);

// A matcher for `pattern` over `text`; null when ICU cannot create one.
std::unique_ptr<icu::RegexMatcher> makeICUMatcher(const icu::RegexPattern& pattern,
                                                  const ICUText& text);
