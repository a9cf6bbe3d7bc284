// The extension process's entry: serves preview requests from the service on a pipe until the
// service closes it. Requests run concurrently through the provider; each reply is written
// back, under one writer lock, when its completion handler is called.
#pragma once

#include "QuickLook/QuickLook.h"

#include <memory>

// Serves requests read from `input` and writes replies to `output`. Returns the process exit
// status: 0 when the input ended cleanly between frames (after every request in flight has
// been answered), 2 when a frame was malformed or cut short (reported on standard error).
// A request frame whose payload does not decode gets an error reply and serving goes on.
int QLServePreviewRequests(QLPreviewProvider& provider, int input, int output);

// Serves standard input/output with `provider` and ends the process with the status above; ends
// it at once with status 78 when it was not started inside its sandbox (see SandboxCheck).
[[noreturn]] void QLExtensionMain(std::shared_ptr<QLPreviewProvider> provider);
