// RandomTexts: reproducible texts stitched together from given pieces, for tests that compare a
// fast path with a plain reference over many inputs.
#pragma once

#include <cstddef>
#include <random>
#include <string>
#include <utility>
#include <vector>

class RandomTexts {
public:
  RandomTexts(std::vector<std::string> pieces, unsigned seed)
      : pieces_(std::move(pieces)), random_(seed), pick_(0, pieces_.size() - 1) {}

  // A text of `count` pieces, each drawn at random.
  std::string next(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
      text += pieces_[pick_(random_)];
    return text;
  }

private:
  std::vector<std::string> pieces_;
  std::mt19937 random_;
  std::uniform_int_distribution<std::size_t> pick_;
};
