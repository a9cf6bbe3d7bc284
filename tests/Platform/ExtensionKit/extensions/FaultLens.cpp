// FaultLens: a test extension that misbehaves on request, chosen by the document's file name:
// "crash…" aborts, "hang…" never answers, "gate…" answers once a file named like the document
// plus ".open" exists, "cut…" writes half of a large reply (as the answer to request 1) and
// quits, "noisy…" writes a line to standard error first, anything else answers at once. Every
// reply's page is "pid <its pid>", followed for "large…" and "gate…" by largeFill() (larger than a
// pipe's buffer).
#include "QuickLook/ExtensionMain.h"
#include "QuickLook/PreviewWire.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// 3 MiB of lines that differ from one another.
std::string largeFill() {
  std::string fill;
  for (int line = 0; fill.size() < (3u << 20); ++line)
    fill += "\nline " + std::to_string(line);
  return fill;
}

class FaultProvider : public QLPreviewProvider {
public:
  void providePreview(const QLFilePreviewRequest& request,
                      QLPreviewCompletionHandler completionHandler) override {
    const std::string path = request.fileURL.path();
    std::thread([path, completionHandler] {
      const std::string name = URL::fileURLWithPath(path).lastPathComponent();
      if (name.rfind("crash", 0) == 0)
        std::abort();
      if (name.rfind("hang", 0) == 0)
        for (;;)
          std::this_thread::sleep_for(std::chrono::hours(1));
      if (name.rfind("noisy", 0) == 0)
        std::fputs("FaultLens: a message on standard error\n", stderr);
      if (name.rfind("gate", 0) == 0) {
        struct stat info {};
        while (::stat((path + ".open").c_str(), &info) != 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      std::string page = "pid " + std::to_string(::getpid());
      if (name.rfind("large", 0) == 0 || name.rfind("gate", 0) == 0 || name.rfind("cut", 0) == 0)
        page += largeFill();
      if (name.rfind("cut", 0) == 0) {
        PreviewWire::Reply reply;
        reply.id = 1;
        reply.contentType = "public.html";
        reply.data = page;
        const std::string frame = PreviewWire::encodeReplyFrame(reply).bytes();
        PreviewWire::writeAll(STDOUT_FILENO, std::string_view(frame).substr(0, frame.size() / 2));
        ::_exit(4);
      }
      QLPreviewReply reply(UTType::html, {100, 100},
                           [page = std::move(page)](QLPreviewReply&) { return page; });
      reply.title = name;
      completionHandler(std::move(reply), std::nullopt);
    }).detach();
  }
};

} // namespace

int main() {
  QLExtensionMain(std::make_shared<FaultProvider>());
}
