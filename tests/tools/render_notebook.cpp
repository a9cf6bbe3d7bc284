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

  return DriverSupport::renderAndWrite("render-notebook", *args, [&] {
    const Bundle bundle(args->bundlePath);
    const URL inputURL = URL::fileURLWithPath(std::filesystem::absolute(args->input).string());
    if (args->flags.contains("--preview"))
      return NotebookPreviewProvider::makePreview(inputURL, bundle).html;
    const std::string notebook = readData(inputURL);
    return NotebookRenderer::renderHTML(notebook, inputURL.lastPathComponent(), bundle);
  });
}
