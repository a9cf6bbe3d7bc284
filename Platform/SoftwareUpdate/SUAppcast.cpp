#include "SoftwareUpdate/SUAppcast.h"

#include "SoftwareUpdate/SUStandardVersionComparator.h"

#include <QXmlStreamReader>
#include <charconv>

namespace {

constexpr std::size_t kMaximumDepth = 32;
constexpr std::size_t kMaximumTextSize = 1024 * 1024;

std::string text(QStringView view) {
  return view.toString().toStdString();
}

std::optional<std::uint64_t> parseLength(const std::string& value) {
  std::uint64_t length = 0;
  const char* end = value.data() + value.size();
  auto [ptr, ec] = std::from_chars(value.data(), end, length);
  if (ec != std::errc() || ptr != end || value.empty())
    return std::nullopt;
  return length;
}

bool isSparkle(const QXmlStreamReader& xml) {
  return xml.namespaceUri() == QLatin1String(SUAppcast::kSparkleNamespace.data());
}

void trim(std::string& s) {
  s.erase(0, s.find_first_not_of(" \t\r\n"));
  s.erase(s.find_last_not_of(" \t\r\n") + 1);
}

struct ItemReader {
  SUAppcastItem item;
  std::string enclosureVersion, enclosureShortVersion, enclosureOS;
  bool hasEnclosure = false;
  bool lengthValid = false;

  void readEnclosure(const QXmlStreamAttributes& attributes) {
    if (hasEnclosure)
      return; // the first enclosure is the release archive
    hasEnclosure = true;
    item.fileURL = text(attributes.value("url"));
    if (auto length = parseLength(text(attributes.value("length")))) {
      item.contentLength = *length;
      lengthValid = true;
    }
    std::string ns(SUAppcast::kSparkleNamespace);
    auto sparkle = [&](const char* name) {
      return text(attributes.value(QString::fromStdString(ns), QLatin1String(name)));
    };
    item.edSignature = sparkle("edSignature");
    enclosureVersion = sparkle("version");
    enclosureShortVersion = sparkle("shortVersionString");
    enclosureOS = sparkle("os");
  }

  // The item when it is a complete Linux release, else nullopt.
  std::optional<SUAppcastItem> finish() {
    for (std::string* field : {&item.versionString, &item.displayVersionString, &item.os,
                               &item.releaseNotesURL, &item.fileURL, &item.edSignature,
                               &enclosureVersion, &enclosureShortVersion, &enclosureOS})
      trim(*field);
    if (item.versionString.empty())
      item.versionString = enclosureVersion;
    if (item.displayVersionString.empty())
      item.displayVersionString =
          enclosureShortVersion.empty() ? item.versionString : enclosureShortVersion;
    if (item.os.empty())
      item.os = enclosureOS;
    // Sparkle reads an item without an operating system as one for macOS.
    if (item.os != "linux" || !hasEnclosure || item.fileURL.empty() || !lengthValid ||
        item.contentLength == 0 || item.versionString.empty())
      return std::nullopt;
    return item;
  }
};

} // namespace

SUAppcast::ParseResult SUAppcast::parse(std::string_view bytes) {
  ParseResult result;
  if (bytes.size() > kMaximumFeedSize) {
    result.error = "The update feed is larger than " +
                   std::to_string(kMaximumFeedSize / (1024 * 1024)) + " MB.";
    return result;
  }
  QXmlStreamReader xml(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
  // Entity declarations (and so entity expansion attacks) are refused outright.
  xml.setEntityResolver(nullptr);
  bool sawRss = false, sawChannel = false;
  std::optional<ItemReader> current;
  std::size_t depth = 0;
  std::string* textTarget = nullptr;
  std::vector<SUAppcastItem> items;
  while (!xml.atEnd()) {
    switch (xml.readNext()) {
    case QXmlStreamReader::DTD:
      if (!xml.entityDeclarations().isEmpty()) {
        result.error = "The update feed declares entities, which are not allowed.";
        return result;
      }
      break;
    case QXmlStreamReader::StartElement: {
      if (++depth > kMaximumDepth) {
        result.error = "The update feed is nested too deeply.";
        return result;
      }
      QStringView name = xml.name();
      textTarget = nullptr;
      if (depth == 1) {
        if (name != QLatin1String("rss")) {
          result.error = "The update feed is not an RSS document.";
          return result;
        }
        sawRss = true;
      } else if (depth == 2 && name == QLatin1String("channel")) {
        sawChannel = true;
      } else if (depth == 3 && name == QLatin1String("item") && sawChannel) {
        if (items.size() >= kMaximumItems) {
          result.error = "The update feed has too many items.";
          return result;
        }
        current.emplace();
      } else if (depth == 4 && current) {
        SUAppcastItem& item = current->item;
        if (name == QLatin1String("enclosure") && xml.namespaceUri().isEmpty())
          current->readEnclosure(xml.attributes());
        else if (name == QLatin1String("title") && xml.namespaceUri().isEmpty())
          textTarget = &item.title;
        else if (name == QLatin1String("description") && xml.namespaceUri().isEmpty())
          textTarget = &item.itemDescription;
        else if (name == QLatin1String("pubDate"))
          textTarget = &item.pubDate;
        else if (isSparkle(xml) && name == QLatin1String("version"))
          textTarget = &item.versionString;
        else if (isSparkle(xml) && name == QLatin1String("shortVersionString"))
          textTarget = &item.displayVersionString;
        else if (isSparkle(xml) && name == QLatin1String("releaseNotesLink"))
          textTarget = &item.releaseNotesURL;
        else if (isSparkle(xml) && name == QLatin1String("minimumSystemVersion"))
          textTarget = &item.minimumSystemVersion;
        else if (isSparkle(xml) && name == QLatin1String("os"))
          textTarget = &item.os;
      }
      break;
    }
    case QXmlStreamReader::Characters:
      if (textTarget) {
        if (textTarget->size() + static_cast<std::size_t>(xml.text().size()) > kMaximumTextSize) {
          result.error = "The update feed has an oversized element.";
          return result;
        }
        *textTarget += text(xml.text());
      }
      break;
    case QXmlStreamReader::EndElement:
      textTarget = nullptr;
      if (depth == 3 && current && xml.name() == QLatin1String("item")) {
        if (auto item = current->finish())
          items.push_back(std::move(*item));
        current.reset();
      }
      --depth;
      break;
    default:
      break;
    }
  }
  if (xml.hasError()) {
    result.error = "The update feed is not well-formed XML (line " +
                   std::to_string(xml.lineNumber()) + ": " + xml.errorString().toStdString() + ").";
    return result;
  }
  if (!sawRss || !sawChannel) {
    result.error = "The update feed has no RSS channel.";
    return result;
  }
  result.items = std::move(items);
  return result;
}

std::optional<SUAppcastItem> SUAppcast::bestUpdate(const std::vector<SUAppcastItem>& items,
                                                   std::string_view currentVersion) {
  const SUAppcastItem* best = nullptr;
  for (const SUAppcastItem& item : items) {
    if (SUStandardVersionComparator::compareVersions(item.versionString, currentVersion) <= 0)
      continue;
    if (!best ||
        SUStandardVersionComparator::compareVersions(item.versionString, best->versionString) > 0)
      best = &item;
  }
  if (!best)
    return std::nullopt;
  return *best;
}
