#include "Foundation/NSError.h"
#include "NotebookLens/NotebookPreviewProvider.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class NotebookReadTest : public testing::Test {
protected:
  NotebookReadTest() {
    std::string pattern = (fs::temp_directory_path() / "lumivale-nbread-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
  }
  ~NotebookReadTest() override { fs::remove_all(dir_); }
  NSError errorReading(const fs::path& path, std::size_t maxBytes) {
    try {
      NotebookPreviewProvider::readNotebook(URL::fileURLWithPath(path.string()), maxBytes);
    } catch (const NSErrorException& e) {
      return e.error();
    }
    ADD_FAILURE() << "the read did not fail";
    return {};
  }
  fs::path dir_;
};

TEST_F(NotebookReadTest, ANotebookUpToTheCapIsReadWhole) {
  std::ofstream(dir_ / "a.ipynb") << R"({"cells":[]})";
  EXPECT_EQ(
      NotebookPreviewProvider::readNotebook(URL::fileURLWithPath((dir_ / "a.ipynb").string()), 12),
      R"({"cells":[]})");
  const NSError error = errorReading(dir_ / "a.ipynb", 11);
  EXPECT_EQ(error.code, NSCocoaErrorCode::kFileReadTooLarge);
}

// A 10 GB notebook fails at once with a clear error, without being read.
TEST_F(NotebookReadTest, A10GBNotebookFailsUnread) {
  const fs::path huge = dir_ / "huge.ipynb";
  std::ofstream(huge) << "{";
  fs::resize_file(huge, std::uint64_t(10) << 30);
  const NSError error = errorReading(huge, NotebookPreviewProvider::kMaxNotebookBytes);
  EXPECT_EQ(error.domain, NSErrorDomain::kCocoa);
  EXPECT_EQ(error.code, NSCocoaErrorCode::kFileReadTooLarge);
  EXPECT_EQ(error.localizedDescription,
            "The notebook \u201Chuge.ipynb\u201D is too large to preview (10 GB; Lumivale Quick "
            "Look previews notebooks of up to 512 MB).");
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  EXPECT_LT(usage.ru_maxrss, 256 * 1024) << "peak memory in KB";
}

TEST_F(NotebookReadTest, AFIFOFailsAtOnce) {
  ASSERT_EQ(::mkfifo((dir_ / "pipe.ipynb").c_str(), 0600), 0);
  const NSError error = errorReading(dir_ / "pipe.ipynb", 1 << 20);
  EXPECT_EQ(error.localizedDescription, "The file \u201Cpipe.ipynb\u201D couldn\u2019t be opened "
                                        "because it is not a regular file.");
}

} // namespace
