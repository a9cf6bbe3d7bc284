// render-markdown: writes the preview page of a Markdown file, as the Markdown extension builds
// it (without image inlining), for browser tests and for looking at a page by hand.
//
//   render-markdown [--bundle APPEX_DIR] INPUT.md OUTPUT.html

#include "Bundle.h"
#include "FileRead.h"
#include "MarkdownRenderer.h"
#include "NSError.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace {

int usage() {
  std::fprintf(stderr, "usage: render-markdown [--bundle APPEX_DIR] INPUT.md OUTPUT.html\n");
  return 1;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "render-markdown: %s\n", message.c_str());
  return 1;
}

} // namespace

int main(int argc, char** argv) {
  std::string bundlePath = LUMIVALE_MARKDOWN_APPEX;
  std::string input, output;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--bundle") {
      if (++i == argc)
        return usage();
      bundlePath = argv[i];
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return 0;
    } else if (positional == 0) {
      input = arg;
      ++positional;
    } else if (positional == 1) {
      output = arg;
      ++positional;
    } else {
      return usage();
    }
  }
  if (positional != 2)
    return usage();

  std::string page;
  try {
    const std::string markdown = readUTF8Text(URL::fileURLWithPath(input));
    const Bundle bundle(bundlePath);
    page = MarkdownRenderer::renderHTML(markdown, bundle);
  } catch (...) {
    return fail(input + ": " + makeNSError(std::current_exception()).localizedDescription);
  }

  // A regular file is written under a temporary name and moved into place, so a failed write
  // leaves no partial page; a device or pipe (/dev/stdout) is written directly.
  std::error_code ec;
  const auto status = std::filesystem::status(output, ec);
  const bool direct = std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
  const std::string target = direct ? output : output + ".partial";
  {
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(page.data(), static_cast<std::streamsize>(page.size()));
    out.close();
    if (!out) {
      if (!direct)
        std::remove(target.c_str());
      return fail(output + ": could not be written");
    }
  }
  if (!direct && std::rename(target.c_str(), output.c_str()) != 0) {
    std::remove(target.c_str());
    return fail(output + ": could not be written");
  }
  return 0;
}
