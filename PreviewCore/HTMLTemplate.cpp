#include "PreviewCore/HTMLTemplate.h"

#include "Foundation/FileRead.h"
#include "PreviewCore/HTMLTemplateCache.h"

#include <map>
#include <mutex>
#include <unordered_map>

namespace HTMLTemplate {

namespace {

// One cache: a dictionary that only grows, behind its own recursive lock. Entries live in
// nodes that never move, so references to them stay valid for the life of the process.
template <class Value> struct Cache {
  std::recursive_mutex lock;
  std::unordered_map<std::string, Value> entries;
};

// Lock order: the template cache's lock may be held while taking the text cache's.
Cache<ParsedTemplate>& templateCache() {
  static Cache<ParsedTemplate> cache;
  return cache;
}
Cache<std::string>& textCache() {
  static Cache<std::string> cache;
  return cache;
}

struct ReadCounter {
  std::mutex lock;
  std::map<std::string, std::size_t, std::less<>> counts;
};
ReadCounter& readCounter() {
  static ReadCounter counter;
  return counter;
}

// Every resource read goes through here, so that the read counter sees it.
std::string readResourceFile(const URL& url) {
  {
    ReadCounter& counter = readCounter();
    std::lock_guard guard(counter.lock);
    ++counter.counts[url.path()];
  }
  return readUTF8Text(url);
}

std::string resourceKey(const Bundle& bundle, std::optional<std::string_view> subdirectory,
                        std::string_view name, std::string_view extension) {
  std::string key = bundle.identity();
  key += '|';
  key += subdirectory.value_or(std::string_view());
  key += '|';
  key += name;
  key += '.';
  key += extension;
  return key;
}

const std::string& cachedTemplateText(std::string_view name, const Bundle& bundle,
                                      ExtensionModule module) {
  std::string key = "tpl|" + bundle.identity() + "|";
  key += name;
  key += ".html";
  Cache<std::string>& cache = textCache();
  std::lock_guard guard(cache.lock);
  if (auto found = cache.entries.find(key); found != cache.entries.end())
    return found->second;
  // A failed read throws from here and leaves nothing behind.
  std::string text = readTemplateText(name, bundle, module);
  return cache.entries.emplace(std::move(key), std::move(text)).first->second;
}

} // namespace

// As a platform error it is its type, qualified by the extension's module, with case number 0.
// The description names the missing template so that a failed preview says what is wrong.
Error::Error(std::string name, ExtensionModule module)
    : name_(std::move(name)), domain_(std::string(moduleName(module)) + ".HTMLTemplate.Error"),
      description_("The operation couldn\u2019t be completed: the page template \u201C" + name_ +
                   "\u201D is missing from the extension\u2019s resources. (" + domain_ +
                   " error 0.)") {}

NSError Error::nsError() const {
  return {domain_, 0, description_};
}

std::string readTemplateText(std::string_view name, const Bundle& bundle, ExtensionModule module) {
  std::optional<URL> url = bundle.urlForResource(name, "html");
  if (!url)
    throw Error::templateNotFound(std::string(name), module);
  try {
    return readResourceFile(*url);
  } catch (const std::exception&) {
    throw Error::templateNotFound(std::string(name), module);
  }
}

std::string templateText(std::string_view name, const Bundle& bundle, ExtensionModule module) {
  return cachedTemplateText(name, bundle, module);
}

ParsedTemplate templateNamed(std::string_view name, const Bundle& bundle, ExtensionModule module) {
  std::string key = bundle.identity() + "|";
  key += name;
  Cache<ParsedTemplate>& cache = templateCache();
  std::lock_guard guard(cache.lock);
  if (auto found = cache.entries.find(key); found != cache.entries.end())
    return found->second;
  ParsedTemplate parsed = std::make_shared<const std::vector<TokenizedTemplate::Segment>>(
      TokenizedTemplate::parse(cachedTemplateText(name, bundle, module)));
  cache.entries.emplace(std::move(key), parsed);
  return parsed;
}

const std::string& cachedResourceText(std::string_view name, std::string_view extension,
                                      const Bundle& bundle,
                                      std::optional<std::string_view> subdirectory) {
  std::string key = resourceKey(bundle, subdirectory, name, extension);
  Cache<std::string>& cache = textCache();
  std::lock_guard guard(cache.lock);
  if (auto found = cache.entries.find(key); found != cache.entries.end())
    return found->second;
  std::string text;
  if (std::optional<URL> url = bundle.urlForResource(name, extension, subdirectory)) {
    try {
      text = readResourceFile(*url);
    } catch (const std::exception&) {
      // A missing or unreadable asset is remembered as empty text and not tried again.
      text.clear();
    }
  }
  return cache.entries.emplace(std::move(key), std::move(text)).first->second;
}

const std::string& cachedScriptText(std::string_view name, std::string_view extension,
                                    const Bundle& bundle,
                                    std::optional<std::string_view> subdirectory) {
  std::string key = "scr|" + resourceKey(bundle, subdirectory, name, extension);
  Cache<std::string>& cache = textCache();
  std::lock_guard guard(cache.lock);
  if (auto found = cache.entries.find(key); found != cache.entries.end())
    return found->second;
  std::string escaped = escapeScript(cachedResourceText(name, extension, bundle, subdirectory));
  return cache.entries.emplace(std::move(key), std::move(escaped)).first->second;
}

std::string resourceText(std::string_view name, std::string_view extension, const Bundle& bundle,
                         std::optional<std::string_view> subdirectory) {
  return cachedResourceText(name, extension, bundle, subdirectory);
}

std::string scriptText(std::string_view name, std::string_view extension, const Bundle& bundle,
                       std::optional<std::string_view> subdirectory) {
  return cachedScriptText(name, extension, bundle, subdirectory);
}

std::string escapeScript(std::string_view text) {
  static constexpr std::string_view kClosingTag = "</script";
  std::string result;
  result.reserve(text.size());
  std::size_t cursor = 0;
  for (std::size_t found = text.find(kClosingTag); found != std::string_view::npos;
       found = text.find(kClosingTag, cursor)) {
    result.append(text, cursor, found + 1 - cursor); // up to and including '<'
    result.append("\\/script");
    cursor = found + kClosingTag.size();
  }
  result.append(text, cursor);
  return result;
}

std::size_t resourceFileReadCount(std::string_view path) {
  ReadCounter& counter = readCounter();
  std::lock_guard guard(counter.lock);
  auto found = counter.counts.find(path);
  return found == counter.counts.end() ? 0 : found->second;
}

} // namespace HTMLTemplate
