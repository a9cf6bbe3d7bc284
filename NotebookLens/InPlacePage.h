// InPlacePage: writes a page into the buffer that holds the notebook's bytes, while strings that
// stayed in those bytes (JSONSerialization::SourceReference) are still to be copied from there
// into the page. The bytes were read in behind room left for the page, and the page's end always
// stays before every byte still to be read; a string is escaped forward from its place to the
// page's end. Should the page catch up with bytes still to be read (the room was too small), the
// page so far moves to a buffer of its own and goes on there, reading the rest from the bytes,
// which were never overwritten. One page per object; not shared between threads.
#pragma once

#include "Foundation/JSONSerialization.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class InPlacePage {
public:
  // `buffer` holds the source text at [sourceOffset, buffer.size()); `pending` are the strings
  // the page will take from it (offsets into the source text), in the order of the text.
  // `expectedSize` is what a buffer of its own is reserved with, should the page need one.
  InPlacePage(std::string&& buffer, std::size_t sourceOffset,
              std::vector<JSONSerialization::SourceReference> pending, std::size_t expectedSize);
  InPlacePage(const InPlacePage&) = delete;
  InPlacePage& operator=(const InPlacePage&) = delete;

  void append(std::string_view bytes);
  // The string as a JSON string literal, quotation marks included (JSONSerialization's escaping).
  void appendStringLiteral(const JSONSerialization::SourceReference& reference);

  // The page; the object is spent.
  std::string finish();
  // True once the page has moved to a buffer of its own.
  bool movedOut() const { return moved_; }

private:
  // The first byte that must not be written: the start of the first string not yet copied
  // (other than `skip`), or the end of the buffer when none is left.
  std::size_t guard(std::size_t skip = SIZE_MAX) const;
  std::size_t indexOf(const JSONSerialization::SourceReference& reference) const;
  void moveOut();

  std::string buffer_;
  std::size_t sourceOffset_;
  std::vector<JSONSerialization::SourceReference> pending_;
  std::vector<bool> copied_;
  std::size_t firstPending_ = 0; // every string before it is copied
  std::size_t expectedSize_;
  std::size_t end_ = 0; // the page's length while it lives in buffer_
  bool moved_ = false;
  std::string page_; // the page once it moved out
};
