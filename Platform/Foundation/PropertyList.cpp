#include "Foundation/PropertyList.h"

#include "Foundation/FileRead.h"
#include "Foundation/NSError.h"

#include <cstdlib>
#include <plist/plist.h>

namespace {

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
  if (bytes.empty() || bytes.size() > UINT32_MAX)
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
