// Fuzzes property-list parsing (XML and binary, through libplist): any bytes either parse or give
// nullopt; a parsed tree written back as XML by libplist parses again to the same tree; the
// accessors the bundle code uses answer consistently.
#include "Foundation/PropertyList.h"
#include "FuzzSupport.h"

#include <bit>
#include <cstdlib>
#include <plist/plist.h>

using FuzzSupport::require;

namespace {

plist_t toPlist(const PropertyList& list) {
  struct Build {
    plist_t operator()(std::monostate) const { return nullptr; }
    plist_t operator()(bool b) const { return plist_new_bool(b); }
    plist_t operator()(std::int64_t i) const { return plist_new_uint(static_cast<uint64_t>(i)); }
    plist_t operator()(double d) const { return plist_new_real(d); }
    plist_t operator()(const std::string& s) const { return plist_new_string(s.c_str()); }
    plist_t operator()(const PropertyList::Array& array) const {
      plist_t node = plist_new_array();
      for (const PropertyList& item : array)
        if (plist_t child = toPlist(item))
          plist_array_append_item(node, child);
      return node;
    }
    plist_t operator()(const PropertyList::Dictionary& dictionary) const {
      plist_t node = plist_new_dict();
      for (const auto& [key, item] : dictionary)
        if (plist_t child = toPlist(item))
          plist_dict_set_item(node, key.c_str(), child);
      return node;
    }
  };
  return std::visit(Build{}, list.value());
}

// Structural equality; values libplist leaves out when writing (null nodes) are skipped on both
// sides, reals compare bit for bit.
bool same(const PropertyList& a, const PropertyList& b);

bool sameArrays(const PropertyList::Array& a, const PropertyList::Array& b) {
  std::vector<const PropertyList*> x, y;
  for (const PropertyList& item : a)
    if (!std::holds_alternative<std::monostate>(item.value()))
      x.push_back(&item);
  for (const PropertyList& item : b)
    if (!std::holds_alternative<std::monostate>(item.value()))
      y.push_back(&item);
  if (x.size() != y.size())
    return false;
  for (std::size_t i = 0; i < x.size(); ++i)
    if (!same(*x[i], *y[i]))
      return false;
  return true;
}

bool same(const PropertyList& a, const PropertyList& b) {
  if (a.value().index() != b.value().index())
    return false;
  if (const auto* d = std::get_if<double>(&a.value()))
    return std::bit_cast<std::uint64_t>(*d) ==
               std::bit_cast<std::uint64_t>(std::get<double>(b.value())) ||
           (*d != *d && std::get<double>(b.value()) != std::get<double>(b.value()));
  if (const auto* array = a.asArray())
    return sameArrays(*array, *b.asArray());
  if (const auto* dictionary = a.asDictionary()) {
    PropertyList::Array x, y;
    for (const auto& [key, item] : *dictionary)
      if (!std::holds_alternative<std::monostate>(item.value())) {
        if (!b.member(key))
          return false;
        x.push_back(item);
        y.push_back(*b.member(key));
      }
    std::size_t present = 0;
    for (const auto& entry : *b.asDictionary())
      present += !std::holds_alternative<std::monostate>(entry.second.value());
    return present == x.size() && sameArrays(x, y);
  }
  if (const auto* text = a.asString())
    return *text == *b.asString();
  if (const auto* flag = a.asBool())
    return *flag == *b.asBool();
  if (const auto* integer = std::get_if<std::int64_t>(&a.value()))
    return *integer == std::get<std::int64_t>(b.value());
  return true; // both empty
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = FuzzSupport::bytes(data, size);
  const std::optional<PropertyList> parsed = PropertyList::parse(bytes);
  if (!parsed)
    return 0;

  // The accessors the bundle code uses.
  if (const auto* dictionary = parsed->asDictionary()) {
    for (const auto& [key, item] : *dictionary) {
      require(parsed->member(key) == &item, "member finds every key");
      require(parsed->valueAtPath({key}) == &item, "a one-key path is the member");
      (void)item.stringArray();
    }
  } else {
    require(parsed->member("CFBundleIdentifier") == nullptr, "only dictionaries have members");
  }
  if (const auto* array = parsed->asArray()) {
    std::size_t strings = 0;
    for (const PropertyList& item : *array)
      strings += item.asString() != nullptr;
    require(parsed->stringArray().size() == strings, "stringArray keeps exactly the strings");
  }

  plist_t node = toPlist(*parsed);
  if (!node)
    return 0;
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(node, &xml, &length);
  plist_free(node);
  require(xml != nullptr, "libplist writes the tree");
  const std::optional<PropertyList> again = PropertyList::parse(std::string_view(xml, length));
  std::free(xml);
  require(again.has_value(), "a written property list parses");
  require(same(*parsed, *again), "a written property list reads back to the same tree");
  return 0;
}
