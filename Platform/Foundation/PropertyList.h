// PropertyList: a parsed property list (Info.plist), as an immutable tree of plain values.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class PropertyList {
public:
  using Array = std::vector<PropertyList>;
  using Dictionary = std::map<std::string, PropertyList, std::less<>>;
  using Value =
      std::variant<std::monostate, bool, std::int64_t, double, std::string, Array, Dictionary>;

  PropertyList() = default;
  explicit PropertyList(Value value) : value_(std::move(value)) {}

  // Reads an XML or binary property list. Throws NSErrorException when the file is missing or
  // not a property list.
  static PropertyList readFile(const std::string& path);
  // Parses property list bytes; nullopt when they are not a property list.
  static std::optional<PropertyList> parse(std::string_view bytes);

  const Value& value() const { return value_; }
  const std::string* asString() const { return std::get_if<std::string>(&value_); }
  const Array* asArray() const { return std::get_if<Array>(&value_); }
  const Dictionary* asDictionary() const { return std::get_if<Dictionary>(&value_); }
  const bool* asBool() const { return std::get_if<bool>(&value_); }

  // The member under `key` of a dictionary, or nullptr.
  const PropertyList* member(std::string_view key) const;
  // The value at a path of dictionary keys, or nullptr.
  const PropertyList* valueAtPath(std::initializer_list<std::string_view> keys) const;
  // The strings of an array value (non-strings skipped); empty when it is not an array.
  std::vector<std::string> stringArray() const;

private:
  Value value_;
};

// A value given either as one string or as an array of strings (as Info.plist type tags are),
// as a list; empty for a missing value.
std::vector<std::string> stringsOf(const PropertyList* value);
