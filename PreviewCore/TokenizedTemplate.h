// TokenizedTemplate: a page template split once into literal text and %%NAME%% placeholders,
// then filled many times. Pure functions; a parsed template is immutable and shareable.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace TokenizedTemplate {

struct Segment {
  enum class Kind { literal, token };
  Kind kind;
  // The literal text, or the token's name (without the delimiters).
  std::string text;

  static Segment literal(std::string text) { return {Kind::literal, std::move(text)}; }
  static Segment token(std::string name) { return {Kind::token, std::move(name)}; }
  friend bool operator==(const Segment&, const Segment&) = default;
};

using Values = std::map<std::string, std::string, std::less<>>;

// Splits a template text into segments. Never fails; malformed delimiters stay literal.
std::vector<Segment> parse(std::string_view text);

// Fills the segments with `values` (missing names give nothing), inserting values verbatim.
// The result is built in one buffer sized in advance.
std::string render(const std::vector<Segment>& segments, const Values& values);

// As render, with values that refer to texts owned elsewhere, so that large values (inlined
// scripts) are copied once, straight into the result.
using ValueViews = std::map<std::string_view, std::string_view, std::less<>>;
std::string renderViews(const std::vector<Segment>& segments, const ValueViews& values);

} // namespace TokenizedTemplate
