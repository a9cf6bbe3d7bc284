// SUDownload: one bounded fetch of an http, https or file URL with Qt Network, into memory or
// into a file. It gives up after `inactivityTimeout` without data, after `totalTimeout` in all,
// or past `maximumBytes`; redirects may not go from https to http. Main thread only; destroying
// it cancels the transfer without calling the completion.
#pragma once

#include <QByteArray>
#include <QPointer>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

class SUDownload {
public:
  struct Limits {
    std::uint64_t maximumBytes = 0;
    std::chrono::milliseconds inactivityTimeout{30000};
    std::chrono::milliseconds totalTimeout{600000};
  };
  // Called as data arrives: bytes so far, and the announced total (0 when unknown).
  using Progress = std::function<void(std::uint64_t received, std::uint64_t total)>;
  // Called once: an empty error on success, with the body when no file was given.
  using Completion = std::function<void(const std::string& error, QByteArray body)>;

  // Starts at once. With `file`, the body is written there (the file is created or truncated).
  SUDownload(QNetworkAccessManager& network, const std::string& url, Limits limits,
             std::optional<std::filesystem::path> file, Progress progress, Completion completion);
  ~SUDownload();
  SUDownload(const SUDownload&) = delete;
  SUDownload& operator=(const SUDownload&) = delete;

private:
  void onReadyRead();
  void onFinished();
  void fail(const std::string& error);
  void complete(const std::string& error);

  Limits limits_;
  Progress progress_;
  Completion completion_;
  QPointer<QNetworkReply> reply_;
  std::unique_ptr<QTimer> deadline_;
  std::optional<std::ofstream> file_;
  QByteArray body_;
  std::uint64_t received_ = 0;
  std::string failure_;
  bool done_ = false;
};
