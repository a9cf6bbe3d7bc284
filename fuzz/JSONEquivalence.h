// JSONEquivalence: equality of JSON values as a reader sees their text, for checking that what
// the writer wrote reads back to the value it was given.
#pragma once

#include <boost/json/value.hpp>

namespace JSONEquivalence {

namespace json = boost::json;

// Numbers compare by value, whatever their kind (the writer prints 2.0 as "2", which reads back
// as an integer); everything else by kind and content, object members in order.
inline bool equivalent(const json::value& a, const json::value& b) {
  if (a.is_number() && b.is_number()) {
    if (a.is_double() || b.is_double())
      return a.to_number<double>() == b.to_number<double>();
    if (a.is_int64() && b.is_int64())
      return a.get_int64() == b.get_int64();
    if (a.is_uint64() && b.is_uint64())
      return a.get_uint64() == b.get_uint64();
    const std::int64_t s = a.is_int64() ? a.get_int64() : b.get_int64();
    const std::uint64_t u = a.is_uint64() ? a.get_uint64() : b.get_uint64();
    return s >= 0 && static_cast<std::uint64_t>(s) == u;
  }
  if (a.kind() != b.kind())
    return false;
  if (a.is_array()) {
    const json::array &x = a.get_array(), &y = b.get_array();
    if (x.size() != y.size())
      return false;
    for (std::size_t i = 0; i < x.size(); ++i)
      if (!equivalent(x[i], y[i]))
        return false;
    return true;
  }
  if (a.is_object()) {
    const json::object &x = a.get_object(), &y = b.get_object();
    if (x.size() != y.size())
      return false;
    for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j)
      if (i->key() != j->key() || !equivalent(i->value(), j->value()))
        return false;
    return true;
  }
  return a == b;
}

} // namespace JSONEquivalence
