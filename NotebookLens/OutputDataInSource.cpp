#include "NotebookLens/OutputDataInSource.h"

namespace OutputDataInSource {

namespace {

bool isMember(const JSONSerialization::PathStep& step, std::string_view name) {
  return !step.inArray && step.name == name;
}

} // namespace

bool staysInSource(std::span<const JSONSerialization::PathStep> path) {
  // The top-level object's "cells", one cell, then the cell's member.
  if (path.size() < 3 || !isMember(path[0], "cells") || !path[1].inArray || path[2].inArray)
    return false;
  if (path.size() == 6 && path[2].name == "outputs" && path[3].inArray &&
      isMember(path[4], "data") && !path[5].inArray)
    return path[5].name != "text/html" && path[5].name != "text/plain";
  return path.size() == 5 && path[2].name == "attachments" && !path[3].inArray && !path[4].inArray;
}

} // namespace OutputDataInSource
