// PreviewServer: the per-user preview service on the session bus. It answers
//   Preview(s app, s path, s contentType) -> h   a sealed memory file holding the reply's frame
//   Reset(s what)                                 ends every extension process and re-reads the
//                                                 registrations; what = "cache" also drops the
//                                                 cached replies
// keeps one warm process per extension, and leaves after `idleTimeout` with nothing to do, or
// when told to (leave()).
// Lives on the main thread; each preview is waited for on a thread of its own.
#pragma once

#include "QuickLookService/ExtensionProcessPool.h"
#include "QuickLookService/PreviewExtensionChooser.h"
#include "QuickLookService/ReplyCache.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

class PreviewServer : public QDBusVirtualObject {
public:
  PreviewServer(std::filesystem::path appBundle, std::unique_ptr<PreviewExtensionChooser> chooser,
                std::chrono::milliseconds idleTimeout, QObject* parent = nullptr);
  ~PreviewServer() override;

  // Registers the object and the service name on `bus`; false (with `error`) when the name is
  // taken or the bus refuses.
  bool publish(QDBusConnection bus, QString& error);

  // Gives up the name at once (new callers start a new server) and quits once no request is
  // in flight.
  void leave();

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
  void preview(const QDBusMessage& message, const QDBusConnection& connection);
  void reset(const QDBusMessage& message, const QDBusConnection& connection);
  PreviewWire::Reply makePreview(const std::string& path, const std::string& contentType);
  void requestStarted();
  void requestFinished();

  std::filesystem::path appBundle_;
  std::unique_ptr<PreviewExtensionChooser> chooser_;
  std::shared_ptr<ExtensionProcessPool> processes_;
  std::shared_ptr<ReplyCache> cache_;
  std::atomic<std::uint64_t> resets_ = 0;
  std::atomic<int> inFlight_ = 0;
  std::optional<QDBusConnection> bus_;
  bool leaving_ = false;
  QTimer idleTimer_;
};
