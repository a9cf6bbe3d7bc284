#include "UniformTypeIdentifiers/UTType.h"

#include "Foundation/ASCII.h"
#include "Foundation/PropertyList.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>

namespace {

struct Declaration {
  std::string identifier;
  std::vector<std::string> conformsTo;
  std::vector<std::string> extensions; // lower case
  std::vector<std::string> mimeTypes;  // lower case
};

// The type table: built-in declarations first, then those registered from Info.plists.
class TypeTable {
public:
  static TypeTable& shared() {
    static TypeTable* table = new TypeTable(); // never destroyed: used until the process ends
    return *table;
  }

  std::optional<Declaration> find(std::string_view identifier) const {
    std::shared_lock lock(mutex_);
    const Declaration* found = findLocked(identifier);
    return found ? std::optional<Declaration>(*found) : std::nullopt;
  }

  template <typename Predicate>
  std::vector<std::string> identifiersWhere(Predicate predicate) const {
    std::shared_lock lock(mutex_);
    std::vector<std::string> out;
    for (const Declaration& d : declarations_)
      if (predicate(d))
        out.push_back(d.identifier);
    return out;
  }

  bool conforms(std::string_view type, std::string_view to) const {
    if (type == to)
      return true;
    std::shared_lock lock(mutex_);
    std::vector<std::string_view> pending{type};
    std::vector<std::string_view> seen;
    while (!pending.empty()) {
      std::string_view current = pending.back();
      pending.pop_back();
      if (current == to)
        return true;
      if (std::find(seen.begin(), seen.end(), current) != seen.end())
        continue;
      seen.push_back(current);
      if (const Declaration* d = findLocked(current))
        for (const std::string& parent : d->conformsTo)
          pending.push_back(parent);
    }
    return to == "public.item";
  }

  void add(Declaration declaration) {
    std::unique_lock lock(mutex_);
    if (!findLocked(declaration.identifier))
      declarations_.push_back(std::move(declaration));
  }

private:
  TypeTable() {
    auto add = [this](std::string id, std::vector<std::string> conforms,
                      std::vector<std::string> extensions, std::vector<std::string> mimeTypes) {
      declarations_.push_back(
          {std::move(id), std::move(conforms), std::move(extensions), std::move(mimeTypes)});
    };
    add("public.item", {}, {}, {});
    add("public.content", {}, {}, {});
    add("public.data", {"public.item"}, {}, {});
    add("public.text", {"public.data", "public.content"}, {}, {});
    add("public.plain-text", {"public.text"}, {"txt", "text"}, {"text/plain"});
    add("public.html", {"public.text"}, {"html", "htm"}, {"text/html"});
    add("public.xml", {"public.text"}, {"xml"}, {"application/xml", "text/xml"});
    add("public.json", {"public.text"}, {"json"}, {"application/json"});
    add("public.image", {"public.data", "public.content"}, {}, {});
    add("public.png", {"public.image"}, {"png"}, {"image/png"});
    add("public.jpeg", {"public.image"}, {"jpeg", "jpg", "jpe"}, {"image/jpeg"});
    add("com.compuserve.gif", {"public.image"}, {"gif"}, {"image/gif"});
    add("public.svg-image", {"public.image", "public.xml"}, {"svg", "svgz"}, {"image/svg+xml"});
    add("org.webmproject.webp", {"public.image"}, {"webp"}, {"image/webp"});
    add("com.microsoft.bmp", {"public.image"}, {"bmp", "dib"}, {"image/bmp"});
    add("public.tiff", {"public.image"}, {"tiff", "tif"}, {"image/tiff"});
    add("public.heic", {"public.image"}, {"heic"}, {"image/heic"});
    add("public.avif", {"public.image"}, {"avif"}, {"image/avif"});
    add("com.microsoft.ico", {"public.image"}, {"ico"},
        {"image/vnd.microsoft.icon", "image/x-icon"});
    add("net.daringfireball.markdown", {"public.plain-text"},
        {"md", "markdown", "mdown", "mkd", "mkdn", "mdwn", "mdtxt", "mdtext"}, {"text/markdown"});
    add("com.lumivale.mermaid", {"public.plain-text"}, {"mermaid", "mmd"},
        {"text/vnd.mermaid", "application/vnd.mermaid"});
    add("org.jupyter.ipynb", {"public.json"}, {"ipynb"}, {"application/x-ipynb+json"});
  }

  const Declaration* findLocked(std::string_view identifier) const {
    for (const Declaration& d : declarations_)
      if (d.identifier == identifier)
        return &d;
    return nullptr;
  }

  mutable std::shared_mutex mutex_;
  std::vector<Declaration> declarations_;
};

} // namespace

const UTType UTType::item{"public.item"};
const UTType UTType::data{"public.data"};
const UTType UTType::content{"public.content"};
const UTType UTType::text{"public.text"};
const UTType UTType::plainText{"public.plain-text"};
const UTType UTType::html{"public.html"};
const UTType UTType::json{"public.json"};
const UTType UTType::xml{"public.xml"};
const UTType UTType::image{"public.image"};
const UTType UTType::png{"public.png"};
const UTType UTType::jpeg{"public.jpeg"};
const UTType UTType::gif{"com.compuserve.gif"};
const UTType UTType::svg{"public.svg-image"};
const UTType UTType::webP{"org.webmproject.webp"};
const UTType UTType::bmp{"com.microsoft.bmp"};
const UTType UTType::tiff{"public.tiff"};
const UTType UTType::heic{"public.heic"};
const UTType UTType::ico{"com.microsoft.ico"};
const UTType UTType::markdown{"net.daringfireball.markdown"};
const UTType UTType::mermaid{"com.lumivale.mermaid"};
const UTType UTType::notebook{"org.jupyter.ipynb"};

std::optional<UTType> UTType::fromIdentifier(std::string_view identifier) {
  if (!TypeTable::shared().find(identifier))
    return std::nullopt;
  return UTType(std::string(identifier));
}

std::optional<UTType> UTType::fromFilenameExtension(std::string_view extension,
                                                    const UTType& conformingTo) {
  if (extension.empty())
    return std::nullopt;
  const std::string wanted = ASCII::lowercased(extension);
  auto candidates = TypeTable::shared().identifiersWhere([&](const Declaration& d) {
    return std::find(d.extensions.begin(), d.extensions.end(), wanted) != d.extensions.end();
  });
  for (std::string& id : candidates) {
    UTType type(std::move(id));
    if (type.conforms(conformingTo))
      return type;
  }
  return std::nullopt;
}

std::optional<UTType> UTType::fromFilenameExtension(std::string_view extension) {
  return fromFilenameExtension(extension, UTType::data);
}

std::optional<UTType> UTType::fromMIMEType(std::string_view mimeType) {
  const std::string wanted = ASCII::lowercased(mimeType);
  auto candidates = TypeTable::shared().identifiersWhere([&](const Declaration& d) {
    return std::find(d.mimeTypes.begin(), d.mimeTypes.end(), wanted) != d.mimeTypes.end();
  });
  if (candidates.empty())
    return std::nullopt;
  return UTType(std::move(candidates.front()));
}

void UTType::registerTypeDeclarations(const PropertyList& infoDictionary) {
  for (const char* key : {"UTExportedTypeDeclarations", "UTImportedTypeDeclarations"}) {
    const PropertyList* list = infoDictionary.member(key);
    const PropertyList::Array* array = list ? list->asArray() : nullptr;
    if (!array)
      continue;
    for (const PropertyList& entry : *array) {
      const PropertyList* identifier = entry.member("UTTypeIdentifier");
      if (!identifier || !identifier->asString() || identifier->asString()->empty())
        continue;
      Declaration declaration{
          *identifier->asString(), stringsOf(entry.member("UTTypeConformsTo")), {}, {}};
      if (const PropertyList* tags = entry.member("UTTypeTagSpecification")) {
        for (const std::string& e : stringsOf(tags->member("public.filename-extension")))
          declaration.extensions.push_back(ASCII::lowercased(e));
        for (const std::string& m : stringsOf(tags->member("public.mime-type")))
          declaration.mimeTypes.push_back(ASCII::lowercased(m));
      }
      TypeTable::shared().add(std::move(declaration));
    }
  }
}

std::optional<std::string> UTType::preferredMIMEType() const {
  auto d = TypeTable::shared().find(identifier_);
  if (!d || d->mimeTypes.empty())
    return std::nullopt;
  return d->mimeTypes.front();
}

std::optional<std::string> UTType::preferredFilenameExtension() const {
  auto d = TypeTable::shared().find(identifier_);
  if (!d || d->extensions.empty())
    return std::nullopt;
  return d->extensions.front();
}

bool UTType::conforms(const UTType& other) const {
  return TypeTable::shared().conforms(identifier_, other.identifier_);
}
