#include "Foundation/ByteCount.h"
#include "Foundation/FileRead.h"
#include "Foundation/NSError.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class FileReadTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("lumivale-fileread-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  URL write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return URL::fileURLWithPath((dir_ / name).string());
  }

  static NSError errorOf(const std::function<void()>& read) {
    try {
      read();
    } catch (const NSErrorException& e) {
      return e.error();
    }
    ADD_FAILURE() << "the read did not fail";
    return {};
  }

  fs::path dir_;
};

TEST_F(FileReadTest, ReadsBytesExactly) {
  const std::string bytes("a\0b\xff\r\n", 6);
  EXPECT_EQ(readData(write("blob.bin", bytes)), bytes);
  EXPECT_EQ(readData(write("empty.md", "")), "");
  const std::string big(3 << 20, 'x');
  EXPECT_EQ(readData(write("big.md", big)), big);
}

TEST_F(FileReadTest, SpareRoomHoldsNoBytes) {
  const std::string big(3 << 20, 'x');
  for (std::size_t spare :
       {std::size_t(0), std::size_t(1), std::size_t(100) << 10, std::size_t(16) << 20}) {
    const std::string read = readData(write("big.md", big), spare);
    EXPECT_EQ(read, big) << "spare " << spare;
    EXPECT_GE(read.capacity(), big.size() + spare);
  }
  EXPECT_EQ(readData(write("empty.md", ""), 1 << 20), "");
  EXPECT_EQ(readData(write("small.md", "abc"), 1 << 20), "abc");
}

TEST_F(FileReadTest, FailuresCarryCocoaCodesAndNameTheFile) {
  NSError missing = errorOf([&] { readData(URL::fileURLWithPath((dir_ / "nope.md").string())); });
  EXPECT_EQ(missing.domain, NSErrorDomain::kCocoa);
  EXPECT_EQ(missing.code, NSCocoaErrorCode::kFileReadNoSuchFile);
  EXPECT_NE(missing.localizedDescription.find("nope.md"), std::string::npos);

  EXPECT_EQ(errorOf([&] { readData(URL::fileURLWithPath(dir_.string())); }).code,
            NSCocoaErrorCode::kFileReadUnknown);

  // A path with a NUL byte names no file, rather than the file before the NUL.
  write("a.png", "png");
  std::string withNul = (dir_ / "a.png").string() + std::string(1, '\0') + ".txt";
  EXPECT_EQ(errorOf([&] { readData(URL::fileURLWithPath(withNul)); }).code,
            NSCocoaErrorCode::kFileReadNoSuchFile);
}

TEST_F(FileReadTest, TextReadsAreStrictUTF8) {
  EXPECT_EQ(readUTF8Text(write("ok.md", "caf\xC3\xA9 \xF0\x9F\x98\x80")),
            "caf\xC3\xA9 \xF0\x9F\x98\x80");
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "ok \xFF"}) {
    NSError error = errorOf([&] { readUTF8Text(write("bad.md", bad)); });
    EXPECT_EQ(error.code, NSCocoaErrorCode::kFileReadInapplicableStringEncoding) << bad;
    EXPECT_NE(error.localizedDescription.find("UTF-8"), std::string::npos);
  }
}

TEST_F(FileReadTest, PrefixReadsStopAtTheLimit) {
  const URL small = write("small.md", "0123456789");
  FilePrefix whole = readFilePrefix(small, 10);
  EXPECT_EQ(whole.data, "0123456789");
  EXPECT_TRUE(whole.complete);
  EXPECT_EQ(whole.fileSize, 10u);

  FilePrefix cut = readFilePrefix(small, 4);
  EXPECT_EQ(cut.data, "0123");
  EXPECT_FALSE(cut.complete);
  EXPECT_EQ(cut.fileSize, 10u);

  FilePrefix skipped = readFilePrefix(small, 4, /*readLargerFiles=*/false);
  EXPECT_EQ(skipped.data, "");
  EXPECT_FALSE(skipped.complete);

  // Files that report no size, as under /proc, are read all the same.
  FilePrefix status = readFilePrefix(URL::fileURLWithPath("/proc/self/status"), 1 << 20);
  EXPECT_TRUE(status.complete);
  EXPECT_NE(status.data.find("Pid:"), std::string::npos);
}

TEST_F(FileReadTest, PrefixReadsOfHugeSparseFilesStayBounded) {
  const fs::path huge = dir_ / "huge.md";
  std::ofstream(huge) << "# Start\n";
  fs::resize_file(huge, std::uint64_t(10) << 30);
  FilePrefix prefix = readFilePrefix(URL::fileURLWithPath(huge.string()), 1 << 20);
  EXPECT_EQ(prefix.data.size(), 1u << 20);
  EXPECT_EQ(prefix.data.substr(0, 8), "# Start\n");
  EXPECT_EQ(prefix.data.capacity() < (2u << 20), true);
  EXPECT_FALSE(prefix.complete);
  EXPECT_EQ(prefix.fileSize, std::uint64_t(10) << 30);
}

// A FIFO with no writer, a device or a folder as the document fails at once: nothing waits
// for a writer, nothing is read from a device.
TEST_F(FileReadTest, PrefixReadsRefuseAnythingButRegularFiles) {
  const fs::path fifo = dir_ / "fifo.md";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo.string(), std::string("/dev/zero"), dir_.string()}) {
    NSError error = errorOf([&] { readFilePrefix(URL::fileURLWithPath(path), 1 << 20); });
    EXPECT_EQ(error.code, NSCocoaErrorCode::kFileReadUnknown) << path;
    EXPECT_NE(error.localizedDescription.find(path == dir_.string() ? "because it is a folder"
                                                                    : "it is not a regular file"),
              std::string::npos)
        << error.localizedDescription;
  }
  EXPECT_EQ(
      errorOf([&] { readFilePrefix(URL::fileURLWithPath((dir_ / "nope").string()), 9); }).code,
      NSCocoaErrorCode::kFileReadNoSuchFile);
}

TEST(ByteCountTest, DescribesSizesInBinaryUnits) {
  EXPECT_EQ(describeByteCount(0), "0 bytes");
  EXPECT_EQ(describeByteCount(1), "1 byte");
  EXPECT_EQ(describeByteCount(1023), "1023 bytes");
  EXPECT_EQ(describeByteCount(1536), "1.5 KB");
  EXPECT_EQ(describeByteCount(std::uint64_t(16) << 20), "16 MB");
  EXPECT_EQ(describeByteCount((std::uint64_t(1) << 20) - 1), "1 MB"); // not "1024 KB"
  EXPECT_EQ(describeByteCount(std::uint64_t(10) << 30), "10 GB");
}

} // namespace
