#include "QuickLook/ExtensionMain.h"

#include "QuickLook/PreviewServiceError.h"
#include "QuickLook/PreviewWire.h"
#include "QuickLook/SandboxCheck.h"

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace {

// Writes reply frames; one at a time. A peer that has gone away ends the process: nobody is
// left to answer.
class ReplyWriter {
public:
  explicit ReplyWriter(int fd) : fd_(fd) {}
  void write(const PreviewWire::Reply& reply) {
    // The frame refers to the reply's page and attachments in place: nothing large is copied.
    std::optional<PreviewWire::OutgoingFrame> frame;
    PreviewWire::Reply failure;
    try {
      frame.emplace(PreviewWire::encodeReplyFrame(reply));
    } catch (const std::exception& e) {
      failure = PreviewWire::errorReply(
          reply.id, makeServiceError(PreviewServiceError::undeliverableReply, e.what()));
      frame.emplace(PreviewWire::encodeReplyFrame(failure));
    }
    std::lock_guard lock(mutex_);
    if (!frame->writeTo(fd_)) {
      std::fputs("preview extension: the service closed the reply channel\n", stderr);
      ::_exit(3);
    }
  }

private:
  int fd_;
  std::mutex mutex_;
};

// Counts requests in flight so that the end of input can wait for them.
class InFlight {
public:
  void begin() {
    std::lock_guard lock(mutex_);
    ++count_;
  }
  void end() {
    std::lock_guard lock(mutex_);
    if (--count_ == 0)
      idle_.notify_all();
  }
  void waitUntilIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return count_ == 0; });
  }

private:
  std::mutex mutex_;
  std::condition_variable idle_;
  std::size_t count_ = 0;
};

PreviewWire::Reply wireReply(std::uint64_t id, QLPreviewReply& reply) {
  PreviewWire::Reply out;
  out.id = id;
  out.data = reply.takeData(); // runs the data producer, which may set encoding and attachments
  out.title = reply.title;
  out.contentType = reply.contentType().identifier();
  out.width = reply.contentSize().width;
  out.height = reply.contentSize().height;
  out.stringEncoding = ianaName(reply.stringEncoding);
  for (auto& [identifier, attachment] : reply.attachments)
    out.attachments.push_back({identifier, attachment.contentType().identifier(),
                               attachment.contentType().preferredMIMEType().value_or(""),
                               attachment.takeData()});
  out.dependencies = std::move(reply.dependencies);
  return out;
}

} // namespace

int QLServePreviewRequests(QLPreviewProvider& provider, int input, int output) {
  auto writer = std::make_shared<ReplyWriter>(output);
  auto inFlight = std::make_shared<InFlight>();
  int status = 0;
  for (;;) {
    std::optional<PreviewWire::Frame> frame;
    try {
      frame = PreviewWire::readFrame(input, PreviewWire::kMaxRequestPayload);
    } catch (const PreviewWire::WireError& e) {
      std::fprintf(stderr, "preview extension: malformed request: %s\n", e.what());
      status = 2;
      break;
    }
    if (!frame)
      break;
    PreviewWire::Request request;
    try {
      request = PreviewWire::decodeRequest(*frame);
    } catch (const PreviewWire::WireError& e) {
      writer->write(PreviewWire::errorReply(
          frame->id, makeServiceError(PreviewServiceError::malformedRequest, e.what())));
      continue;
    }
    inFlight->begin();
    const std::uint64_t id = request.id;
    provider.providePreview(
        QLFilePreviewRequest{URL::fileURLWithPath(request.path)},
        [writer, inFlight, id](std::optional<QLPreviewReply> reply, std::optional<NSError> error) {
          PreviewWire::Reply out;
          try {
            out = reply ? wireReply(id, *reply)
                        : PreviewWire::errorReply(
                              id, error ? *error : makeServiceError(PreviewServiceError::noResult));
          } catch (...) {
            out = PreviewWire::errorReply(id, makeNSError(std::current_exception()));
          }
          writer->write(out);
          inFlight->end();
        });
  }
  inFlight->waitUntilIdle();
  return status;
}

void QLExtensionMain(std::shared_ptr<QLPreviewProvider> provider) {
  std::signal(SIGPIPE, SIG_IGN);
  // The sandbox lets no file grow: a message to a standard error that is a regular file (the
  // service's output sent to a log) must fail, not end the process.
  std::signal(SIGXFSZ, SIG_IGN);
  if (std::optional<std::string> problem = sandboxProblem()) {
    std::fprintf(stderr,
                 "preview extension: not started inside its sandbox (%s); the preview "
                 "service starts it through xpcproxy\n",
                 problem->c_str());
    ::_exit(78);
  }
  const int status = QLServePreviewRequests(*provider, STDIN_FILENO, STDOUT_FILENO);
  std::fflush(stderr);
  // Pool threads stay parked; end without running static destructors under them.
  ::_exit(status);
}
