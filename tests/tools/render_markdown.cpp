// render-markdown: writes the preview page of a Markdown file, as the Markdown extension builds
// it (without image inlining), for browser tests and for looking at a page by hand.
//
//   render-markdown [--bundle APPEX_DIR] INPUT.md OUTPUT.html

#include "DriverSupport.h"
#include "Foundation/Bundle.h"
#include "Foundation/FileRead.h"
#include "Foundation/NSError.h"
#include "MarkdownLens/MarkdownRenderer.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
  const auto args = DriverSupport::parseArguments(
      argc, argv, LUMIVALE_MARKDOWN_APPEX, {},
      "usage: render-markdown [--bundle APPEX_DIR] INPUT.md OUTPUT.html");
  if (!args)
    return 1;

  return DriverSupport::renderAndWrite("render-markdown", *args, [&] {
    const std::string markdown = readUTF8Text(URL::fileURLWithPath(args->input));
    const Bundle bundle(args->bundlePath);
    return MarkdownRenderer::renderHTML(markdown, bundle);
  });
}
