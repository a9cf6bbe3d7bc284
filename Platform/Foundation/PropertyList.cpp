#include "Foundation/PropertyList.h"

#include "Foundation/FileRead.h"
#include "Foundation/NSError.h"

#include <cstdlib>
#include <plist/plist.h>

namespace {

std::uint64_t bigEndian(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// True when a binary property list holds a UTF-16 string with a U+0000 in it. libplist stops
// such a string at the NUL but keeps its full length, and reading it back as a dictionary key
// then fails an assertion inside the library (the whole process aborts), so such lists are
// refused before libplist sees them. Anything malformed is left for libplist to reject.
bool hasUTF16StringWithNUL(std::string_view bytes) {
  constexpr std::size_t kTrailerSize = 32;
  if (bytes.size() < 8 + kTrailerSize || bytes.substr(0, 6) != "bplist")
    return false;
  const std::size_t trailer = bytes.size() - kTrailerSize;
  const std::size_t offsetSize = static_cast<unsigned char>(bytes[trailer + 6]);
  const std::uint64_t objectCount = bigEndian(bytes, trailer + 8, 8);
  const std::uint64_t tableOffset = bigEndian(bytes, trailer + 24, 8);
  if (offsetSize < 1 || offsetSize > 8 || tableOffset >= trailer ||
      objectCount > (trailer - tableOffset) / offsetSize)
    return false;
  for (std::uint64_t i = 0; i < objectCount; ++i) {
    const std::uint64_t offset =
        bigEndian(bytes, static_cast<std::size_t>(tableOffset + i * offsetSize), offsetSize);
    if (offset >= trailer)
      continue;
    std::size_t at = static_cast<std::size_t>(offset);
    const unsigned char marker = static_cast<unsigned char>(bytes[at++]);
    if ((marker >> 4) != 0x6)
      continue;
    std::uint64_t length = marker & 0xF;
    if (length == 0xF) {
      // The length follows as an integer object: marker 0x1N, then 2^N bytes.
      if (at >= trailer || (static_cast<unsigned char>(bytes[at]) >> 4) != 0x1)
        continue;
      const std::size_t width = std::size_t{1} << (bytes[at] & 0x3);
      if (at + 1 + width > trailer)
        continue;
      length = bigEndian(bytes, at + 1, width);
      at += 1 + width;
    }
    if (length > (trailer - at) / 2)
      continue;
    for (std::uint64_t unit = 0; unit < length; ++unit)
      if (bytes[at + 2 * unit] == 0 && bytes[at + 2 * unit + 1] == 0)
        return true;
  }
  return false;
}

PropertyList convert(plist_t node, int depth) {
  if (!node || depth > 64)
    return {};
  switch (plist_get_node_type(node)) {
  case PLIST_BOOLEAN: {
    uint8_t b = 0;
    plist_get_bool_val(node, &b);
    return PropertyList(PropertyList::Value(b != 0));
  }
  case PLIST_UINT: {
    uint64_t v = 0;
    plist_get_uint_val(node, &v);
    return PropertyList(PropertyList::Value(static_cast<std::int64_t>(v)));
  }
  case PLIST_REAL: {
    double v = 0;
    plist_get_real_val(node, &v);
    return PropertyList(PropertyList::Value(v));
  }
  case PLIST_STRING: {
    const char* s = plist_get_string_ptr(node, nullptr);
    return PropertyList(PropertyList::Value(std::string(s ? s : "")));
  }
  case PLIST_ARRAY: {
    PropertyList::Array array;
    uint32_t n = plist_array_get_size(node);
    for (uint32_t i = 0; i < n; ++i)
      array.push_back(convert(plist_array_get_item(node, i), depth + 1));
    return PropertyList(PropertyList::Value(std::move(array)));
  }
  case PLIST_DICT: {
    PropertyList::Dictionary dict;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    for (;;) {
      char* key = nullptr;
      plist_t item = nullptr;
      plist_dict_next_item(node, it, &key, &item);
      if (!key)
        break;
      dict.emplace(key, convert(item, depth + 1));
      std::free(key);
    }
    std::free(it);
    return PropertyList(PropertyList::Value(std::move(dict)));
  }
  default:
    return {};
  }
}

} // namespace

std::optional<PropertyList> PropertyList::parse(std::string_view bytes) {
  plist_t root = nullptr;
  if (bytes.empty() || bytes.size() > UINT32_MAX || hasUTF16StringWithNUL(bytes))
    return std::nullopt;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  if (!root)
    return std::nullopt;
  PropertyList result = convert(root, 0);
  plist_free(root);
  return result;
}

PropertyList PropertyList::readFile(const std::string& path) {
  URL url = URL::fileURLWithPath(path);
  std::optional<PropertyList> parsed = parse(readData(url));
  if (!parsed)
    throw NSErrorException(
        {NSErrorDomain::kCocoa, NSCocoaErrorCode::kPropertyListReadCorrupt,
         "The data couldn\u2019t be read because it isn\u2019t in the correct format."});
  return std::move(*parsed);
}

const PropertyList* PropertyList::member(std::string_view key) const {
  const Dictionary* dict = asDictionary();
  if (!dict)
    return nullptr;
  auto it = dict->find(key);
  return it == dict->end() ? nullptr : &it->second;
}

const PropertyList* PropertyList::valueAtPath(std::initializer_list<std::string_view> keys) const {
  const PropertyList* node = this;
  for (std::string_view key : keys) {
    node = node->member(key);
    if (!node)
      return nullptr;
  }
  return node;
}

std::vector<std::string> PropertyList::stringArray() const {
  std::vector<std::string> out;
  if (const Array* array = asArray())
    for (const PropertyList& item : *array)
      if (const std::string* s = item.asString())
        out.push_back(*s);
  return out;
}

std::vector<std::string> stringsOf(const PropertyList* value) {
  if (!value)
    return {};
  if (const std::string* single = value->asString())
    return {*single};
  return value->stringArray();
}
