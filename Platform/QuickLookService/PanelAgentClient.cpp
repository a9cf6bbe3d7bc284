#include "QuickLookService/PanelAgentClient.h"

#include "QuickLookService/PanelAgentNames.h"
#include "QuickLookService/PreviewServiceClient.h"
#include "QuickLookService/PrivateBusConnection.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <climits>
#include <unistd.h>

namespace PanelAgentClient {
namespace {

// A panel stays open as long as its user wants: the call has no time limit (the bus ends it
// when the agent goes away).
constexpr int kShowTimeoutMs = INT_MAX;
constexpr int kQuitTimeoutMs = 10 * 1000;

QDBusMessage call(const char* member) {
  return QDBusMessage::createMethodCall(
      QLatin1String(PanelAgentNames::kService), QLatin1String(PanelAgentNames::kObjectPath),
      QLatin1String(PanelAgentNames::kInterface), QLatin1String(member));
}

std::string describe(const QDBusMessage& answer) {
  return answer.type() == QDBusMessage::ErrorMessage
             ? (answer.errorName() + QStringLiteral(": ") + answer.errorMessage()).toStdString()
             : "the panel agent gave no answer";
}

} // namespace

std::optional<Outcome> show(const PanelAgentRequest& request, std::string& why) {
  if (!PreviewServiceClient::sessionBusAvailable()) {
    why = "no session bus";
    return std::nullopt;
  }
  PrivateBusConnection connection("lumivale-panel-client");
  if (!connection.bus().isConnected()) {
    why = "cannot connect to the session bus";
    return std::nullopt;
  }
  QDBusMessage message = call("Show");
  message << QString::fromStdString(request.toJSON())
          << QVariant::fromValue(QDBusUnixFileDescriptor(STDERR_FILENO));
  QDBusMessage answer = connection.bus().call(message, QDBus::Block, kShowTimeoutMs);
  // An agent on its way out has given up its name: the next call starts a new one.
  if (answer.errorName() == QLatin1String(PanelAgentNames::kQuittingError))
    answer = connection.bus().call(message, QDBus::Block, kShowTimeoutMs);
  const QList<QVariant> values = answer.arguments();
  if (answer.type() != QDBusMessage::ReplyMessage || answer.signature() != QLatin1String("ii")) {
    why = describe(answer);
    return std::nullopt;
  }
  return Outcome{values[0].toInt(), values[1].toInt()};
}

bool quit(std::string& why) {
  if (!PreviewServiceClient::sessionBusAvailable())
    return true;
  PrivateBusConnection connection("lumivale-panel-client");
  if (!connection.bus().isConnected()) {
    why = "cannot connect to the session bus";
    return false;
  }
  QDBusConnectionInterface* bus = connection.bus().interface();
  if (!bus || !bus->isServiceRegistered(QLatin1String(PanelAgentNames::kService)).value())
    return true; // nothing running, and no reason to start it
  const QDBusMessage answer = connection.bus().call(call("Quit"), QDBus::Block, kQuitTimeoutMs);
  if (answer.type() == QDBusMessage::ReplyMessage)
    return true;
  // Gone between the question and the call: just as good.
  if (answer.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
      answer.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply"))
    return true;
  why = describe(answer);
  return false;
}

} // namespace PanelAgentClient
