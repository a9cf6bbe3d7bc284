#include "QuickLook/QuickLook.h"

#include <utility>

const char* ianaName(StringEncoding encoding) {
  switch (encoding) {
  case StringEncoding::utf8:
    return "utf-8";
  case StringEncoding::unspecified:
    break;
  }
  return "";
}

const std::string& QLPreviewReply::data() {
  if (!data_) {
    DataProducer producer = std::move(producer_);
    producer_ = nullptr;
    data_ = producer ? producer(*this) : std::string();
  }
  return *data_;
}

std::string QLPreviewReply::takeData() {
  data();
  return std::exchange(*data_, {});
}
