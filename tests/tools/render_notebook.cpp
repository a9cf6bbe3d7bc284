// render-notebook: writes the preview page of a Jupyter notebook for browser tests, benchmarks
// and looking at a page by hand. By default the page is the renderer's alone; with --preview the
// whole preview pipeline runs (image inlining included; the page then refers to its images as
// "cid:" attachments, which are not written).
//
//   render-notebook [--bundle APPEX_DIR] [--preview] INPUT.ipynb OUTPUT.html

#include "Bundle.h"
#include "FileRead.h"
#include "NSError.h"
#include "NotebookPreviewProvider.h"
#include "NotebookRenderer.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: render-notebook [--bundle APPEX_DIR] [--preview] INPUT.ipynb OUTPUT.html\n");
  return 1;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "render-notebook: %s\n", message.c_str());
  return 1;
}

} // namespace

int main(int argc, char** argv) {
  std::string bundlePath = LUMIVALE_APP_BUNDLE "/Contents/PlugIns/NotebookLens.appex";
  bool wholePreview = false;
  std::string input, output;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--bundle") {
      if (++i == argc)
        return usage();
      bundlePath = argv[i];
    } else if (arg == "--preview") {
      wholePreview = true;
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
    const Bundle bundle(bundlePath);
    const URL inputURL = URL::fileURLWithPath(std::filesystem::absolute(input).string());
    if (wholePreview) {
      page = NotebookPreviewProvider::makePreview(inputURL, bundle).html;
    } else {
      const std::string notebook = readData(inputURL);
      page = NotebookRenderer::renderHTML(notebook, inputURL.lastPathComponent(), bundle);
    }
  } catch (...) {
    return fail(input + ": " + makeNSError(std::current_exception()).localizedDescription);
  }

  // A device or pipe (/dev/null, /dev/stdout) is written directly; a file is written to a
  // temporary name and moved into place, so a failed write leaves no partial page.
  std::error_code ec;
  const bool special =
      std::filesystem::exists(output, ec) && !std::filesystem::is_regular_file(output, ec);
  const std::string target = special ? output : output + ".partial";
  {
    std::ofstream out(target, std::ios::binary | (special ? std::ios::out : std::ios::trunc));
    out.write(page.data(), static_cast<std::streamsize>(page.size()));
    out.close();
    if (!out) {
      if (!special)
        std::remove(target.c_str());
      return fail(output + ": could not be written");
    }
  }
  if (!special && std::rename(target.c_str(), output.c_str()) != 0) {
    std::remove(target.c_str());
    return fail(output + ": could not be written");
  }
  return 0;
}
