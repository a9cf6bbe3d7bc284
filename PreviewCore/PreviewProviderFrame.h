// PreviewProviderFrame: the request frame both preview extensions share. The service's call
// returns at once; the pipeline runs as one task on the process's shared pool and its reply,
// or its error converted to NSError, reaches the completion handler exactly once.
//
// Use: derive the extension's principal class from PreviewProviderFrame, implement the pipeline
// in `providePreview(const QLFilePreviewRequest&)` (runs on a pool thread, returns the reply
// built with PreviewReplyBuilder, throws on failure), and own the provider through
// std::shared_ptr (the frame keeps it alive while a request is in flight):
//
//   class NotebookPreviewProvider : public PreviewProviderFrame {
//   public:
//     using PreviewProviderFrame::providePreview;
//     QLPreviewReply providePreview(const QLFilePreviewRequest& request) override;
//   };
//   QLExtensionMain(std::make_shared<NotebookPreviewProvider>());
#pragma once

#include "Dispatch/SharedExecutor.h"
#include "Foundation/NSError.h"
#include "QuickLook/QuickLook.h"

#include <exception>
#include <memory>
#include <optional>

class PreviewProviderFrame : public QLPreviewProvider {
public:
  // The pipeline of one request. Called on a pool thread; may run concurrently with itself.
  virtual QLPreviewReply providePreview(const QLFilePreviewRequest& request) = 0;

  void providePreview(const QLFilePreviewRequest& request,
                      QLPreviewCompletionHandler completionHandler) final {
    // The task keeps the provider (when it is shared-owned), the request and the handler alive
    // until the handler has been called.
    std::shared_ptr<QLPreviewProvider> self = weak_from_this().lock();
    SharedExecutor::shared().enqueue([this, self = std::move(self), request = request,
                                      completionHandler = std::move(completionHandler)]() mutable {
      std::optional<QLPreviewReply> reply;
      std::optional<NSError> error;
      try {
        reply.emplace(providePreview(request));
      } catch (...) {
        error = makeNSError(std::current_exception());
      }
      if (reply)
        completionHandler(std::move(reply), std::nullopt);
      else
        completionHandler(std::nullopt, std::move(error));
    });
  }
};
