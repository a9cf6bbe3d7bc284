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

  std::string page;
  try {
    const std::string markdown = readUTF8Text(URL::fileURLWithPath(args->input));
    const Bundle bundle(args->bundlePath);
    page = MarkdownRenderer::renderHTML(markdown, bundle);
  } catch (...) {
    std::fprintf(stderr, "render-markdown: %s: %s\n", args->input.c_str(),
                 makeNSError(std::current_exception()).localizedDescription.c_str());
    return 1;
  }
  if (!DriverSupport::writePage(args->output, page)) {
    std::fprintf(stderr, "render-markdown: %s: could not be written\n", args->output.c_str());
    return 1;
  }
  return 0;
}
