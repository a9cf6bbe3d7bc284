// PageFile: a file that a reply's page is written into while the reply is read from the
// extension's pipe (PreviewWire::readReply), so that a presenter that stores pages as files
// never holds the page in its own memory: from a pipe the bytes move into the file inside the
// kernel (splice).
//
// The same request may be answered more than once (sent again to a new process after its first
// process was ended), and a reader of an ended process may still be writing when the next
// answer begins. Each answer writes under a claim; only the latest claim's transfer writes and
// records its outcome, and transfers take turns, so the file ends up holding the latest answer
// whole. Thread-safe.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace PreviewWire {

class PageFile {
public:
  // Takes ownership of `fd`, a regular file open for reading and writing.
  explicit PageFile(int fd);
  ~PageFile();
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  // The right to write one answer into the file; it lapses when a later claim is made.
  struct Claim {
    std::shared_ptr<PageFile> file;
    std::uint64_t number = 0;
    explicit operator bool() const { return file != nullptr; }
  };
  static Claim claim(const std::shared_ptr<PageFile>& file);

  // One answer being written, from the start of the file; it holds the file's lock. A transfer
  // whose claim has lapsed writes nothing (its bytes are only consumed), and so does one whose
  // write failed (the failure is recorded, the stream is still read to the frame's end).
  class Transfer {
  public:
    explicit Transfer(const Claim& claim);
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    bool writing() const { return writing_; }
    // Appends bytes held in memory.
    void write(std::string_view bytes);
    // Moves up to `length` bytes from the pipe `from` into the file without copying them
    // through this process. Returns how many moved; 0 when nothing moved this way (the stream
    // ended, `from` is not a pipe, the system cannot splice into this file, or the writing
    // stopped): the caller then reads the bytes itself and write()s them, which tells a
    // failed write from the end of the stream. After one 0 it stays 0 for this transfer.
    std::size_t moveFrom(int from, std::size_t length);
    // The answer is complete: the file is cut to the bytes written and its size recorded.
    void finish();

  private:
    void fail(const std::string& why);

    PageFile& file_;
    const std::uint64_t number_;
    std::lock_guard<std::mutex> turn_;
    bool writing_;
    bool splicing_ = true;
    loff_t offset_ = 0;
  };

  int fd() const { return fd_; }
  // The size of the page, once an answer was written whole (under the latest claim).
  std::optional<std::uint64_t> receivedSize() const;
  // Why the latest answer could not be written; empty when it could (or none was tried).
  std::string failure() const;

private:
  const int fd_;
  std::atomic<std::uint64_t> claims_ = 0;
  std::mutex turn_;            // held by the one transfer under way
  mutable std::mutex outcome_; // guards the two fields below, never held for long
  std::optional<std::uint64_t> received_;
  std::string failure_;
};

} // namespace PreviewWire
