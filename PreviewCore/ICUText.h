// ICUText: the one place where ICU is set up over UTF-8 that lives elsewhere: the UText that
// reads the caller's bytes in place (native indexes are byte offsets, so large documents are
// never copied to UTF-16), compiling the program's fixed patterns, matchers, and each thread's
// character (grapheme cluster) break iterator. Content detection, the image scanner, the
// inliner and the grapheme code all go through here.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <unicode/brkiter.h>
#include <unicode/regex.h>
#include <unicode/utext.h>

// A UText over `utf8`, which must outlive it. Owned by this object; one thread at a time.
// Throws std::bad_alloc when ICU cannot open it.
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

// Compiles one of the program's fixed ICU patterns (given as UTF-8). The patterns are constants,
// so a pattern that does not compile is a defect, never an input error: the process stops with
// a fatal error naming `file` and `line` (the caller's, by default: clang 14 has no
// std::source_location, so the compilers' builtins stand in). The result is immutable and may be
// shared by all threads (each uses its own matcher); callers keep it in a function-local static,
// which compiles it once, on first use.
std::unique_ptr<icu::RegexPattern> compileICUPattern(std::string_view utf8Pattern,
                                                     std::uint32_t flags = 0,
                                                     std::string_view file = __builtin_FILE(),
                                                     std::uint_least32_t line = __builtin_LINE());

// A matcher for `pattern` over `text`. Throws std::bad_alloc when ICU cannot create one.
std::unique_ptr<icu::RegexMatcher> makeICUMatcher(const icu::RegexPattern& pattern,
                                                  const ICUText& text);

// The calling thread's character break iterator (ICU's root-locale grapheme clusters), set on
// `text`. Each thread clones its own once from a process-wide prototype; it stays valid for the
// thread's life and is set on another text by the next call on the same thread. Throws
// std::bad_alloc when ICU cannot create or set it.
icu::BreakIterator& characterBreakIterator(const ICUText& text);
