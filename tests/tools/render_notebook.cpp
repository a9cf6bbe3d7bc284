// render-notebook: writes the preview page of a Jupyter notebook for browser tests, benchmarks
// and looking at a page by hand. By default the page is the renderer's alone; with --preview the
// whole preview pipeline runs (image inlining included; the page then refers to its images as
// "cid:" attachments, which are not written).
//
//   render-notebook [--bundle APPEX_DIR] [--preview] INPUT.ipynb OUTPUT.html

#include "DriverSupport.h"
#include "Foundation/Bundle.h"
#include "Foundation/FileRead.h"
#include "Foundation/NSError.h"
#include "NotebookLens/NotebookPreviewProvider.h"
#include "NotebookLens/NotebookRenderer.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  const auto args = DriverSupport::parseArguments(
      argc, argv, LUMIVALE_NOTEBOOK_APPEX, {"--preview"},
      "usage: render-notebook [--bundle APPEX_DIR] [--preview] INPUT.ipynb OUTPUT.html");
  if (!args)
    return 1;

  std::string page;
  try {
    const Bundle bundle(args->bundlePath);
    const URL inputURL = URL::fileURLWithPath(std::filesystem::absolute(args->input).string());
    if (args->flags.contains("--preview")) {
      page = NotebookPreviewProvider::makePreview(inputURL, bundle).html;
    } else {
      const std::string notebook = readData(inputURL);
      page = NotebookRenderer::renderHTML(notebook, inputURL.lastPathComponent(), bundle);
    }
  } catch (...) {
    std::fprintf(stderr, "render-notebook: %s: %s\n", args->input.c_str(),
                 makeNSError(std::current_exception()).localizedDescription.c_str());
    return 1;
  }
  if (!DriverSupport::writePage(args->output, page)) {
    std::fprintf(stderr, "render-notebook: %s: could not be written\n", args->output.c_str());
    return 1;
  }
  return 0;
}
