// FaultLens: a test extension that misbehaves on request, chosen by the document's file name:
// "crash…" aborts, "hang…" never answers, "gate…" answers once a file named like the document
// plus ".open" exists, anything else answers at once. Every reply's page is "pid <its pid>".
#include "QuickLook/ExtensionMain.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

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
      if (name.rfind("gate", 0) == 0) {
        struct stat info {};
        while (::stat((path + ".open").c_str(), &info) != 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      const std::string page = "pid " + std::to_string(::getpid());
      QLPreviewReply reply(UTType::html, {100, 100}, [page](QLPreviewReply&) { return page; });
      reply.title = name;
      completionHandler(std::move(reply), std::nullopt);
    }).detach();
  }
};

} // namespace

int main() {
  QLExtensionMain(std::make_shared<FaultProvider>());
}
