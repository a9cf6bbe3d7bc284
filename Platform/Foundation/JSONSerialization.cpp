#include "Foundation/JSONSerialization.h"

#include "Foundation/HugePages.h"
#include "Foundation/NSError.h"

#include <algorithm>
#include <array>
#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/monotonic_resource.hpp>
#include <boost/json/value_stack.hpp>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace json = boost::json;

namespace {

// ---------------------------------------------------------------------------------------------
// Stand-ins for strings left in the source text: a byte that never begins valid UTF-8, then the
// offset and the length.

constexpr char kStandInMark = '\xFF';
constexpr std::size_t kStandInLength = 1 + 2 * sizeof(std::uint64_t);

std::string standInFor(const JSONSerialization::SourceReference& reference) {
  std::string text(kStandInLength, kStandInMark);
  const std::uint64_t fields[2] = {reference.offset, reference.length};
  std::memcpy(text.data() + 1, fields, sizeof fields);
  return text;
}

// ---------------------------------------------------------------------------------------------
// Reader

// Builds the value tree like Boost's own parser, except that every floating-point number is
// converted again from its text with std::from_chars, which is exact (Boost 1.81's conversion
// can be one unit in the last place off, so numbers would not survive a round trip).
struct TreeBuilder {
  static constexpr std::size_t max_object_size = json::object::max_size();
  static constexpr std::size_t max_array_size = json::array::max_size();
  static constexpr std::size_t max_key_size = json::string::max_size();
  static constexpr std::size_t max_string_size = json::string::max_size();

  // basic_parser constructs its handler from the storage the value tree is built in.
  explicit TreeBuilder(json::storage_ptr storage) : stack(std::move(storage)) {}

  json::value_stack stack;
  std::string numberText;

  // Leaving strings in the source text (see SourceReferencing); off while `referencing` is null.
  // The path is tracked only then.
  struct Level {
    bool inArray;
    std::string name; // of the member being read, inside an object
  };
  std::string_view source;
  const JSONSerialization::SourceReferencing* referencing = nullptr;
  std::vector<JSONSerialization::SourceReference>* referenced = nullptr;
  std::vector<Level> levels;
  std::vector<JSONSerialization::PathStep> path;
  std::string keyText;
  bool stringInParts = false;

  bool on_document_begin(json::error_code&) { return true; }
  bool on_document_end(json::error_code&) { return true; }
  bool on_object_begin(json::error_code&) {
    if (referencing)
      levels.push_back({false, {}});
    return true;
  }
  bool on_object_end(std::size_t n, json::error_code&) {
    if (referencing)
      levels.pop_back();
    stack.push_object(n);
    return true;
  }
  bool on_array_begin(json::error_code&) {
    if (referencing)
      levels.push_back({true, {}});
    return true;
  }
  bool on_array_end(std::size_t n, json::error_code&) {
    if (referencing)
      levels.pop_back();
    stack.push_array(n);
    return true;
  }
  bool on_key_part(json::string_view s, std::size_t, json::error_code&) {
    if (referencing)
      keyText.append(s.data(), s.size());
    stack.push_chars(s);
    return true;
  }
  bool on_key(json::string_view s, std::size_t, json::error_code&) {
    if (referencing) {
      keyText.append(s.data(), s.size());
      levels.back().name.swap(keyText);
      keyText.clear();
    }
    stack.push_key(s);
    return true;
  }
  bool on_string_part(json::string_view s, std::size_t, json::error_code&) {
    stringInParts = true;
    stack.push_chars(s);
    return true;
  }
  bool on_string(json::string_view s, std::size_t, json::error_code&) {
    if (referencing && !stringInParts && s.size() >= referencing->minimumLength &&
        staysInSource(s)) {
      const JSONSerialization::SourceReference reference{
          static_cast<std::size_t>(s.data() - source.data()), s.size()};
      referenced->push_back(reference);
      const std::string standIn = standInFor(reference);
      stack.push_string(json::string_view(standIn.data(), standIn.size()));
    } else {
      stack.push_string(s);
    }
    stringInParts = false;
    return true;
  }

  // True for a string whose bytes lie whole in the source text (no escapes were decoded) and
  // whose path the policy names.
  bool staysInSource(json::string_view s) {
    const auto begin = reinterpret_cast<std::uintptr_t>(source.data());
    const auto at = reinterpret_cast<std::uintptr_t>(s.data());
    if (at < begin || at - begin > source.size() || s.size() > source.size() - (at - begin))
      return false;
    path.clear();
    for (const Level& level : levels)
      path.push_back({level.inArray, level.inArray ? std::string_view() : level.name});
    return referencing->keepInSource(path);
  }
  bool on_number_part(json::string_view s, json::error_code&) {
    numberText.append(s.data(), s.size());
    return true;
  }
  bool on_int64(std::int64_t i, json::string_view, json::error_code&) {
    numberText.clear();
    stack.push_int64(i);
    return true;
  }
  bool on_uint64(std::uint64_t u, json::string_view, json::error_code&) {
    numberText.clear();
    stack.push_uint64(u);
    return true;
  }
  bool on_double(double d, json::string_view s, json::error_code& ec) {
    std::string_view text(s.data(), s.size());
    if (!numberText.empty()) {
      numberText.append(text);
      text = numberText;
    }
    double exact = 0;
    auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), exact);
    if (err == std::errc() && end == text.data() + text.size())
      d = exact;
    numberText.clear();
    if (!std::isfinite(d)) {
      ec = json::error::exponent_overflow;
      return false;
    }
    stack.push_double(d);
    return true;
  }
  bool on_bool(bool b, json::error_code&) {
    stack.push_bool(b);
    return true;
  }
  bool on_null(json::error_code&) {
    stack.push_null();
    return true;
  }
  bool on_comment_part(json::string_view, json::error_code&) { return true; }
  bool on_comment(json::string_view, json::error_code&) { return true; }
};

// 1-based line and column of a byte offset; columns count characters, not bytes.
std::string positionText(std::string_view bytes, std::size_t offset) {
  if (offset > bytes.size())
    offset = bytes.size();
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < offset; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\n') {
      ++line;
      column = 1;
    } else if ((c & 0xC0) != 0x80) {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

[[noreturn]] void throwInvalid(std::string_view bytes, std::size_t offset, std::string reason) {
  throw NSErrorException({NSErrorDomain::kCocoa, NSCocoaErrorCode::kPropertyListReadCorrupt,
                          "The data couldn\u2019t be read because it isn\u2019t valid JSON: " +
                              reason + " around " + positionText(bytes, offset) + "."});
}

std::size_t firstNonWhitespace(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size() &&
         (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\n' || bytes[i] == '\r'))
    ++i;
  return i;
}

// ---------------------------------------------------------------------------------------------
// Writer

// What follows the backslash for each byte that needs escaping; 0 for bytes written as they
// are, 'u' for the \u00XX form.
constexpr std::array<char, 256> makeEscapeTable() {
  std::array<char, 256> table{};
  for (int c = 0; c < 0x20; ++c)
    table[c] = 'u';
  table['\b'] = 'b';
  table['\f'] = 'f';
  table['\n'] = 'n';
  table['\r'] = 'r';
  table['\t'] = 't';
  table['"'] = '"';
  table['\\'] = '\\';
  table['/'] = '/';
  return table;
}
constexpr std::array<char, 256> kEscape = makeEscapeTable();

#if defined(__SSE2__)
// Bit i set when byte i of the block needs escaping (controls, '"', '\\', '/').
inline unsigned specialMask(__m128i bytes) {
  const __m128i control = _mm_xor_si128(
      _mm_cmpeq_epi8(_mm_max_epu8(bytes, _mm_set1_epi8(0x20)), bytes), _mm_set1_epi8(-1));
  const __m128i special =
      _mm_or_si128(_mm_or_si128(control, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"'))),
                   _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')),
                                _mm_cmpeq_epi8(bytes, _mm_set1_epi8('/'))));
  return static_cast<unsigned>(_mm_movemask_epi8(special));
}
#endif

// Writes the escape of a byte that needs one; returns the position after it.
inline char* writeEscape(char* w, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  const char escape = kEscape[c];
  *w++ = '\\';
  if (escape != 'u') {
    *w++ = escape;
    return w;
  }
  const char text[5] = {'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
  std::memcpy(w, text, sizeof text);
  return w + sizeof text;
}

// Escapes [p, end) to `w` for as long as room(unread, w), the bytes that may be written at `w`
// when `unread` is the first byte not yet read, allows. A block of sixteen bytes is stored
// whole; each special byte in it is then written as its escape, and the plain bytes after it
// are stored again, sixteen at a time, from the source. Stores may run past what is final;
// later writes put those bytes right. A block reads up to 31 bytes ahead and writes at most
// 6 * 16 + 16 bytes, all of it after the block itself is in registers.
template <class Room>
JSONSerialization::EscapeProgress escapeWhileRoom(const char* p, const char* const end, char* w,
                                                  Room room) {
#if defined(__SSE2__)
  while (end - p >= 32 && room(p, w) >= 6 * 16 + 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned mask = specialMask(bytes);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w), bytes);
    if (mask == 0) {
      p += 16;
      w += 16;
      continue;
    }
    unsigned done = 0; // bytes of the block written so far
    do {
      const unsigned special = static_cast<unsigned>(__builtin_ctz(mask));
      w += special - done; // the plain bytes before it are in place already
      w = writeEscape(w, static_cast<unsigned char>(p[special]));
      done = special + 1;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(w),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + done)));
      mask &= mask - 1;
    } while (mask != 0);
    w += 16 - done;
    p += 16;
  }
#endif
  while (p < end) {
    const unsigned char c = static_cast<unsigned char>(*p);
    const std::size_t length = kEscape[c] == 0 ? 1 : kEscape[c] == 'u' ? 6 : 2;
    if (room(p + 1, w) < length)
      break;
    ++p;
    if (length == 1)
      *w++ = static_cast<char>(c);
    else
      w = writeEscape(w, c);
  }
  return {p, w};
}

void appendNumber(std::string& out, double d) {
  if (!std::isfinite(d))
    throw NSErrorException({NSErrorDomain::kCocoa, NSCocoaErrorCode::kPropertyListReadCorrupt,
                            "Invalid number value (infinite or not a number) in JSON write."});
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
  out.append(buffer, result.ptr);
}

template <class Integer> void appendInteger(std::string& out, Integer i) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, i);
  out.append(buffer, result.ptr);
}

using JSONSerialization::ReferenceWriter;

void appendScalar(std::string& out, const json::value& value,
                  const ReferenceWriter* writeReference) {
  switch (value.kind()) {
  case json::kind::null:
    out.append("null");
    return;
  case json::kind::bool_:
    out.append(value.get_bool() ? "true" : "false");
    return;
  case json::kind::int64:
    appendInteger(out, value.get_int64());
    return;
  case json::kind::uint64:
    appendInteger(out, value.get_uint64());
    return;
  case json::kind::double_:
    appendNumber(out, value.get_double());
    return;
  case json::kind::string: {
    const json::string& s = value.get_string();
    if (std::optional<JSONSerialization::SourceReference> reference =
            JSONSerialization::sourceReference(s)) {
      if (!writeReference)
        throw NSErrorException(
            {NSErrorDomain::kCocoa, NSCocoaErrorCode::kPropertyListReadCorrupt,
             "The JSON value refers to text it does not hold and cannot be written alone."});
      (*writeReference)(out, *reference);
      return;
    }
    JSONSerialization::appendStringLiteral(out, std::string_view(s.data(), s.size()));
    return;
  }
  case json::kind::array:
  case json::kind::object:
    return;
  }
}

// One open array or object of the walk, and the index of the member being written.
struct OpenContainer {
  const json::value* container;
  std::size_t index;
  std::size_t size() const {
    return container->is_array() ? container->get_array().size() : container->get_object().size();
  }
};

// Writes the member `index` of an open container: for an object its key first.
const json::value& beginMember(std::string& out, const OpenContainer& open) {
  if (open.container->is_array())
    return open.container->get_array()[open.index];
  const json::key_value_pair& member = *(open.container->get_object().begin() + open.index);
  JSONSerialization::appendStringLiteral(
      out, std::string_view(member.key().data(), member.key().size()));
  out.push_back(':');
  return member.value();
}

// Depth-first without recursion, so that the depth bound, not the thread's stack, decides how
// deep a value may nest.
void appendValue(std::string& out, const json::value& root, const ReferenceWriter* writeReference) {
  std::vector<OpenContainer> open;
  const json::value* value = &root;
  for (;;) {
    if (value->is_array() || value->is_object()) {
      if (open.size() >= JSONSerialization::kMaxDepth)
        throw NSErrorException({NSErrorDomain::kCocoa, NSCocoaErrorCode::kPropertyListReadCorrupt,
                                "The JSON value nests more than " +
                                    std::to_string(JSONSerialization::kMaxDepth) +
                                    " levels deep and cannot be written."});
      out.push_back(value->is_array() ? '[' : '{');
      open.push_back({value, 0});
      if (open.back().size() > 0) {
        value = &beginMember(out, open.back());
        continue;
      }
    } else {
      appendScalar(out, *value, writeReference);
      if (open.empty())
        return;
    }
    // Close every container whose last member is written, then go on with the next member.
    for (;;) {
      OpenContainer& innermost = open.back();
      if (innermost.index + 1 < innermost.size()) {
        ++innermost.index;
        out.push_back(',');
        value = &beginMember(out, innermost);
        break;
      }
      out.push_back(innermost.container->is_array() ? ']' : '}');
      open.pop_back();
      if (open.empty())
        return;
    }
  }
}

// Blocks for document arenas, from the system allocator, with huge pages advised for the large
// ones: a fresh page of a big tree costs its clearing by the kernel, far less in 2 MiB pages.
class HugePageBlocks final : public json::memory_resource {
  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    void* block = ::operator new(bytes, std::align_val_t(alignment));
    adviseHugePages(block, bytes);
    return block;
  }
  void do_deallocate(void* block, std::size_t, std::size_t alignment) override {
    ::operator delete(block, std::align_val_t(alignment));
  }
  bool do_is_equal(const json::memory_resource& other) const noexcept override {
    return this == &other;
  }
};

json::value parseDocument(std::string_view bytes, json::storage_ptr storage,
                          const JSONSerialization::SourceReferencing* referencing,
                          std::vector<JSONSerialization::SourceReference>* referenced);
void appendEscapedText(std::string& out, std::string_view utf8, bool quoted);

} // namespace

namespace JSONSerialization {

json::storage_ptr documentStorage(std::size_t expectedBytes) {
  static HugePageBlocks blocks;
  return json::make_shared_resource<json::monotonic_resource>(
      std::max<std::size_t>(expectedBytes, 1024), json::storage_ptr(&blocks));
}

json::value parse(std::string_view bytes) {
  return parse(bytes, json::storage_ptr());
}

json::value parse(std::string_view bytes, json::storage_ptr storage) {
  return parseDocument(bytes, std::move(storage), nullptr, nullptr);
}

json::value parse(std::string_view bytes, json::storage_ptr storage,
                  const SourceReferencing& referencing, std::vector<SourceReference>& referenced) {
  return parseDocument(bytes, std::move(storage), &referencing, &referenced);
}

} // namespace JSONSerialization

namespace {

json::value parseDocument(std::string_view bytes, json::storage_ptr storage,
                          const JSONSerialization::SourceReferencing* referencing,
                          std::vector<JSONSerialization::SourceReference>* referenced) {
  using JSONSerialization::kMaxDepth;
  // A byte order mark, as some editors write one, is not part of the JSON text.
  const std::size_t bom = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  const std::size_t start = bom + firstNonWhitespace(bytes.substr(bom));
  if (start == bytes.size())
    throw NSErrorException({NSErrorDomain::kCocoa, NSCocoaErrorCode::kPropertyListReadCorrupt,
                            "The data couldn\u2019t be read because it isn\u2019t valid JSON: "
                            "the text is empty."});
  if (bytes[start] != '{' && bytes[start] != '[')
    throwInvalid(bytes, start, "the top level must be an object or an array");

  json::parse_options options;
  options.max_depth = kMaxDepth;
  json::basic_parser<TreeBuilder> parser(options, json::storage_ptr());
  parser.handler().stack.reset(std::move(storage));
  if (referencing && referencing->keepInSource) {
    parser.handler().source = bytes;
    parser.handler().referencing = referencing;
    parser.handler().referenced = referenced;
  }
  json::error_code ec;
  std::size_t consumed = bom + parser.write_some(false, bytes.data() + bom, bytes.size() - bom, ec);
  if (ec) {
    std::string reason = ec.message();
    if (ec == json::error::too_deep)
      reason = "the text nests more than " + std::to_string(kMaxDepth) + " levels deep";
    else if (ec == json::error::incomplete)
      reason = "the text ends before the JSON value is complete";
    else if (ec == json::error::exponent_overflow)
      reason = "number out of range";
    throwInvalid(bytes, consumed, std::move(reason));
  }
  // The parser stops after the top-level value; only white space may follow it.
  std::size_t rest = consumed + firstNonWhitespace(bytes.substr(consumed));
  if (rest < bytes.size())
    throwInvalid(bytes, rest, "unexpected text after the end of the JSON value");
  return parser.handler().stack.release();
}

} // namespace

namespace JSONSerialization {

std::string write(const json::value& value) {
  std::string out;
  append(out, value);
  return out;
}

void append(std::string& out, const json::value& value) {
  appendValue(out, value, nullptr);
}

void appendReferencing(std::string& out, const json::value& value,
                       const ReferenceWriter& writeReference) {
  appendValue(out, value, &writeReference);
}

std::optional<SourceReference> sourceReference(const json::string& text) {
  if (text.size() != kStandInLength || text[0] != kStandInMark)
    return std::nullopt;
  std::uint64_t fields[2];
  std::memcpy(fields, text.data() + 1, sizeof fields);
  return SourceReference{static_cast<std::size_t>(fields[0]), static_cast<std::size_t>(fields[1])};
}

void appendStringLiteral(std::string& out, std::string_view utf8) {
  appendEscapedText(out, utf8, true);
}

void appendEscaped(std::string& out, std::string_view utf8) {
  appendEscapedText(out, utf8, false);
}

} // namespace JSONSerialization

namespace {

void appendEscapedText(std::string& out, std::string_view utf8, bool quoted) {
  // Escaped a chunk at a time in fast memory, each chunk then appended: every byte is read once
  // and written once to `out`, which is never cleared ahead of the writes.
  char chunk[16384];
  char* const chunkEnd = chunk + sizeof chunk;
  const auto room = [chunkEnd](const char*, const char* at) {
    return static_cast<std::size_t>(chunkEnd - at);
  };
  const char* p = utf8.data();
  const char* const end = p + utf8.size();
  char* w = chunk;
  if (quoted)
    *w++ = '"';
  for (;;) {
    const JSONSerialization::EscapeProgress progress = escapeWhileRoom(p, end, w, room);
    p = progress.from;
    w = progress.to;
    if (p == end)
      break;
    out.append(chunk, static_cast<std::size_t>(w - chunk));
    w = chunk;
  }
  if (quoted) {
    if (w == chunkEnd) {
      out.append(chunk, sizeof chunk);
      w = chunk;
    }
    *w++ = '"';
  }
  out.append(chunk, static_cast<std::size_t>(w - chunk));
}

} // namespace

namespace JSONSerialization {

EscapeProgress escapeForward(const char* from, const char* end, char* to, const char* limit) {
  // A write may reach neither the first byte not yet read nor `limit`.
  return escapeWhileRoom(from, end, to, [limit](const char* unread, const char* at) {
    const char* stop = std::min(unread, limit);
    return stop > at ? static_cast<std::size_t>(stop - at) : std::size_t(0);
  });
}

std::string stringLiteral(std::string_view utf8) {
  std::string out;
  appendStringLiteral(out, utf8);
  return out;
}

} // namespace JSONSerialization
