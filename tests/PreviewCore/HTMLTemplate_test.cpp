#include "PreviewCore/HTMLTemplate.h"
#include "PreviewCore/HTMLTemplateCache.h"
#include "TemporaryBundle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using Segment = TokenizedTemplate::Segment;

namespace {

constexpr ExtensionModule kModule = ExtensionModule::markdownLens;

std::size_t readsOf(const std::filesystem::path& file) {
  return HTMLTemplate::resourceFileReadCount(file.string());
}

} // namespace

TEST(HTMLTemplateTest, TemplateIsReadAndParsedOncePerBundleObject) {
  TemporaryBundle dir;
  auto file = dir.writeResource("page.html", "<b>%%BODY%%</b>");
  auto bundle = dir.open();
  HTMLTemplate::ParsedTemplate first = HTMLTemplate::templateNamed("page", *bundle, kModule);
  EXPECT_EQ(*first, (std::vector<Segment>{Segment::literal("<b>"), Segment::token("BODY"),
                                          Segment::literal("</b>")}));
  EXPECT_EQ(HTMLTemplate::templateNamed("page", *bundle, kModule), first);
  EXPECT_EQ(HTMLTemplate::templateText("page", *bundle, kModule), "<b>%%BODY%%</b>");
  EXPECT_EQ(readsOf(file), 1u);

  dir.writeResource("page.html", "changed");
  EXPECT_EQ(HTMLTemplate::templateText("page", *bundle, kModule), "<b>%%BODY%%</b>");
  EXPECT_EQ(HTMLTemplate::readTemplateText("page", *bundle, kModule), "changed");
  EXPECT_EQ(readsOf(file), 2u);

  auto other = dir.open();
  EXPECT_EQ(*HTMLTemplate::templateNamed("page", *other, kModule),
            std::vector<Segment>{Segment::literal("changed")});
  EXPECT_EQ(readsOf(file), 3u);

  // The template's text entry is not the resource entry of the same file.
  EXPECT_EQ(HTMLTemplate::resourceText("page", "html", *bundle), "changed");
  EXPECT_EQ(readsOf(file), 4u);
}

TEST(HTMLTemplateTest, MissingTemplateFailsEveryTimeUntilItAppears) {
  TemporaryBundle dir;
  auto bundle = dir.open();
  try {
    HTMLTemplate::templateNamed("markdown-template", *bundle, kModule);
    FAIL() << "no error";
  } catch (const HTMLTemplate::Error& error) {
    EXPECT_EQ(error.kind(), HTMLTemplate::Error::Kind::templateNotFound);
    EXPECT_EQ(error.name(), "markdown-template");
    NSError ns = error.nsError();
    // The platform error of the module-qualified type, naming the missing template.
    EXPECT_EQ(ns.domain, "MarkdownLens.HTMLTemplate.Error");
    EXPECT_EQ(ns.code, 0);
    EXPECT_EQ(
        ns.localizedDescription,
        "The operation couldn\u2019t be completed: the page template \u201Cmarkdown-template\u201D "
        "is missing from the extension\u2019s resources. (MarkdownLens.HTMLTemplate.Error error "
        "0.)");
    EXPECT_EQ(makeNSError(std::current_exception()), ns);
  }
  EXPECT_THROW(HTMLTemplate::templateText("markdown-template", *bundle, kModule),
               HTMLTemplate::Error);
  // Templates live at the top level only.
  dir.writeResource("markdown/markdown-template.html", "nested");
  EXPECT_THROW(HTMLTemplate::templateNamed("markdown-template", *bundle, kModule),
               HTMLTemplate::Error);

  dir.writeResource("markdown-template.html", "now here");
  EXPECT_EQ(HTMLTemplate::templateText("markdown-template", *bundle, kModule), "now here");

  // Invalid UTF-8 counts as not found.
  dir.writeResource("latin1.html", "caf\xe9");
  EXPECT_EQ(HTMLTemplate::Error::templateNotFound("latin1", kModule), [&] {
    try {
      HTMLTemplate::templateNamed("latin1", *bundle, kModule);
    } catch (const HTMLTemplate::Error& e) {
      return e;
    }
    return HTMLTemplate::Error::templateNotFound("none", kModule);
  }());
}

// The domain names the extension that asked for the template, whatever the program is called.
TEST(HTMLTemplateTest, MissingTemplateErrorNamesTheAskingExtension) {
  TemporaryBundle dir;
  auto bundle = dir.open();
  try {
    HTMLTemplate::templateNamed("notebook-template", *bundle, ExtensionModule::notebookLens);
    FAIL() << "no error";
  } catch (const HTMLTemplate::Error& error) {
    EXPECT_EQ(error.nsError().domain, "NotebookLens.HTMLTemplate.Error");
    EXPECT_NE(
        error.nsError().localizedDescription.find("(NotebookLens.HTMLTemplate.Error error 0.)"),
        std::string::npos);
    EXPECT_NE(error, HTMLTemplate::Error::templateNotFound("notebook-template",
                                                           ExtensionModule::markdownLens));
  }
}

TEST(HTMLTemplateTest, AssetsAreCachedAndFailuresRememberedAsEmpty) {
  TemporaryBundle dir;
  auto bundle = dir.open();
  EXPECT_EQ(HTMLTemplate::resourceText("late", "css", *bundle, "markdown"), "");
  auto late = dir.writeResource("markdown/late.css", "body{}");
  EXPECT_EQ(HTMLTemplate::resourceText("late", "css", *bundle, "markdown"), "");
  EXPECT_EQ(HTMLTemplate::scriptText("late", "css", *bundle, "markdown"), "");
  EXPECT_EQ(readsOf(late), 0u);

  auto top = dir.writeResource("style.css", "top</script>");
  auto nested = dir.writeResource("markdown/style.css", "nested");
  EXPECT_EQ(HTMLTemplate::resourceText("style", "css", *bundle), "top</script>");
  EXPECT_EQ(HTMLTemplate::resourceText("style", "css", *bundle, "markdown"), "nested");
  EXPECT_EQ(HTMLTemplate::resourceText("style", "css", *bundle), "top</script>");
  EXPECT_EQ(readsOf(top), 1u);
  EXPECT_EQ(readsOf(nested), 1u);

  dir.writeResource("markdown/bad.js", "\xc3\x28");
  EXPECT_EQ(HTMLTemplate::scriptText("bad", "js", *bundle, "markdown"), "");
}

TEST(HTMLTemplateTest, ScriptsAreEscapedOnceAndRawTextStaysAvailable) {
  TemporaryBundle dir;
  auto bundle = dir.open();
  const std::string raw = "a('</script>'); b('</SCRIPT>'); c('<</script</script')";
  auto file = dir.writeResource("markdown/lib.min.js", raw);
  const std::string escaped = "a('<\\/script>'); b('</SCRIPT>'); c('<<\\/script<\\/script')";
  EXPECT_EQ(HTMLTemplate::scriptText("lib.min", "js", *bundle, "markdown"), escaped);
  EXPECT_EQ(HTMLTemplate::scriptText("lib.min", "js", *bundle, "markdown"), escaped);
  EXPECT_EQ(HTMLTemplate::resourceText("lib.min", "js", *bundle, "markdown"), raw);
  EXPECT_EQ(&HTMLTemplate::cachedScriptText("lib.min", "js", *bundle, "markdown"),
            &HTMLTemplate::cachedScriptText("lib.min", "js", *bundle, "markdown"));
  EXPECT_EQ(readsOf(file), 1u);
}

TEST(HTMLTemplateTest, EscapeScript) {
  EXPECT_EQ(HTMLTemplate::escapeScript(""), "");
  EXPECT_EQ(HTMLTemplate::escapeScript("</script"), "<\\/script");
  EXPECT_EQ(HTMLTemplate::escapeScript("</scrip"), "</scrip");
  EXPECT_EQ(HTMLTemplate::escapeScript("</Script></script>"), "</Script><\\/script>");
}
