#include "QuickLookService/PreviewServiceClient.h"

#include "QuickLookService/PreviewServiceNames.h"
#include "QuickLookService/PrivateBusConnection.h"
#include "QuickLookService/ReplyTransfer.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <sys/stat.h>

namespace PreviewServiceClient {
namespace {

// Generous: a preview of a 100 MB notebook takes seconds, and the extension's own time-outs
// end a stuck request well before this.
constexpr int kPreviewTimeoutMs = 10 * 60 * 1000;
constexpr int kResetTimeoutMs = 10 * 1000;

QDBusMessage call(const char* member) {
  return QDBusMessage::createMethodCall(
      QLatin1String(PreviewServiceNames::kService), QLatin1String(PreviewServiceNames::kObjectPath),
      QLatin1String(PreviewServiceNames::kInterface), QLatin1String(member));
}

} // namespace

bool sessionBusAvailable() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
    return true;
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  struct stat info {};
  return !runtime.isEmpty() && ::stat((runtime + "/bus").constData(), &info) == 0 &&
         S_ISSOCK(info.st_mode);
}

std::optional<PreviewWire::Reply> preview(const std::filesystem::path& appBundle,
                                          const std::string& path, const std::string& contentType,
                                          std::string& why) {
  if (!sessionBusAvailable()) {
    why = "no session bus";
    return std::nullopt;
  }
  PrivateBusConnection connection("lumivale-preview-client");
  if (!connection.bus().isConnected()) {
    why = "cannot connect to the session bus";
    return std::nullopt;
  }
  QDBusMessage message = call("Preview");
  message << QString::fromStdString(appBundle.string()) << QString::fromStdString(path)
          << QString::fromStdString(contentType);
  const QDBusMessage answer = connection.bus().call(message, QDBus::Block, kPreviewTimeoutMs);
  if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().size() != 1 ||
      !answer.arguments()[0].canConvert<QDBusUnixFileDescriptor>()) {
    why = answer.type() == QDBusMessage::ErrorMessage
              ? (answer.errorName() + QStringLiteral(": ") + answer.errorMessage()).toStdString()
              : "the preview server sent no reply";
    return std::nullopt;
  }
  const QDBusUnixFileDescriptor fd = answer.arguments()[0].value<QDBusUnixFileDescriptor>();
  if (!fd.isValid()) {
    why = "the preview server sent no reply";
    return std::nullopt;
  }
  try {
    return ReplyTransfer::readFromMemoryFile(fd.fileDescriptor());
  } catch (const std::exception& e) {
    why = std::string("the preview server's reply cannot be read: ") + e.what();
    return std::nullopt;
  }
}

bool reset(bool dropCache, std::string& why) {
  if (!sessionBusAvailable())
    return true; // no bus, no server to reset
  PrivateBusConnection connection("lumivale-preview-client");
  if (!connection.bus().isConnected()) {
    why = "cannot connect to the session bus";
    return false;
  }
  QDBusConnectionInterface* bus = connection.bus().interface();
  if (!bus || !bus->isServiceRegistered(QLatin1String(PreviewServiceNames::kService)).value())
    return true; // nothing running: nothing to reset, and no reason to start it
  QDBusMessage message = call("Reset");
  message << (dropCache ? QStringLiteral("cache") : QString());
  const QDBusMessage answer = connection.bus().call(message, QDBus::Block, kResetTimeoutMs);
  if (answer.type() != QDBusMessage::ReplyMessage) {
    why = (answer.errorName() + QStringLiteral(": ") + answer.errorMessage()).toStdString();
    return false;
  }
  return true;
}

} // namespace PreviewServiceClient
