// HTMLTemplate: loads page templates, style sheets and scripts from a bundle's resources and
// keeps them for the life of the process in two caches shared by all preview requests.
// Thread-safe: each cache sits behind its own recursive lock; the template cache's lock may be
// held while the text cache's is taken, never the reverse.
#pragma once

#include "Foundation/Bundle.h"
#include "Foundation/NSError.h"
#include "PreviewCore/ExtensionModule.h"
#include "PreviewCore/TokenizedTemplate.h"

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace HTMLTemplate {

// The one failure of this module: a template resource that is missing, unreadable or not UTF-8.
// As a platform error its domain is the type qualified by the module of the extension that
// asked for the template ("NotebookLens.HTMLTemplate.Error").
class Error : public std::exception, public NSErrorConvertible {
public:
  enum class Kind { templateNotFound };
  static Error templateNotFound(std::string name, ExtensionModule module) {
    return Error(std::move(name), module);
  }

  Kind kind() const { return Kind::templateNotFound; }
  // The template name exactly as asked for (without ".html").
  const std::string& name() const { return name_; }
  const char* what() const noexcept override { return description_.c_str(); }
  NSError nsError() const override;
  friend bool operator==(const Error& a, const Error& b) {
    return a.name_ == b.name_ && a.domain_ == b.domain_;
  }

private:
  Error(std::string name, ExtensionModule module);
  std::string name_;
  std::string domain_;
  std::string description_;
};

using ParsedTemplate = std::shared_ptr<const std::vector<TokenizedTemplate::Segment>>;

// The parsed template `name`.html from the top level of the bundle's resources (cached). A
// failure is the Error of `module`, the extension asking.
ParsedTemplate templateNamed(std::string_view name, const Bundle& bundle, ExtensionModule module);
// The template's text (cached; a failure is not remembered).
std::string templateText(std::string_view name, const Bundle& bundle, ExtensionModule module);
// Uncached read of the template file.
std::string readTemplateText(std::string_view name, const Bundle& bundle, ExtensionModule module);
// Cached text of any resource; the empty text (remembered) when missing or unreadable.
std::string resourceText(std::string_view name, std::string_view extension, const Bundle& bundle,
                         std::optional<std::string_view> subdirectory = std::nullopt);
// Cached script text with every "</script" turned into "<\/script".
std::string scriptText(std::string_view name, std::string_view extension, const Bundle& bundle,
                       std::optional<std::string_view> subdirectory = std::nullopt);

// Replaces every "</script" by "<\/script" (case-sensitive, non-overlapping).
std::string escapeScript(std::string_view text);

} // namespace HTMLTemplate
