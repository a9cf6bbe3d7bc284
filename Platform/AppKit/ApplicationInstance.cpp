#include "AppKit/ApplicationInstance.h"

#include "Foundation/NSLog.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QVariantMap>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kApplicationInterface = "org.freedesktop.Application";
constexpr const char* kReopenMessage = "rapp\n";
constexpr const char* kAcknowledgement = "ok\n";

std::string sanitized(const std::string& identifier, char dotReplacement) {
  std::string out;
  for (char c : identifier) {
    const bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    out += plain ? c : (c == '.' ? dotReplacement : '_');
  }
  return out.empty() ? std::string("application") : out;
}

bool hasSessionBus() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  return address && *address && QDBusConnection::sessionBus().isConnected();
}

// The running instance's side of org.freedesktop.Application on the session bus.
class ActivationObject final : public QDBusVirtualObject {
public:
  explicit ActivationObject(std::function<void()> onReopen) : onReopen_(std::move(onReopen)) {}

  QString introspect(const QString&) const override {
    return QStringLiteral("<interface name=\"org.freedesktop.Application\">"
                          "<method name=\"Activate\"><arg type=\"a{sv}\" name=\"platform_data\" "
                          "direction=\"in\"/></method></interface>");
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.interface() != QLatin1String(kApplicationInterface) ||
        message.member() != QLatin1String("Activate"))
      return false;
    connection.send(message.createReply());
    onReopen_();
    return true;
  }

private:
  std::function<void()> onReopen_;
};

class BusInstance final : public ApplicationInstance {
public:
  BusInstance(std::string name, std::string path, std::unique_ptr<ActivationObject> object)
      : name_(std::move(name)), path_(std::move(path)), object_(std::move(object)) {}
  ~BusInstance() override {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(QString::fromStdString(path_));
    bus.unregisterService(QString::fromStdString(name_));
  }

private:
  std::string name_;
  std::string path_;
  std::unique_ptr<ActivationObject> object_;
};

class SocketInstance final : public ApplicationInstance {
public:
  SocketInstance(int lockFd, std::unique_ptr<QLocalServer> server)
      : lockFd_(lockFd), server_(std::move(server)) {}
  ~SocketInstance() override {
    server_.reset();
    ::close(lockFd_);
  }

private:
  int lockFd_;
  std::unique_ptr<QLocalServer> server_;
};

std::unique_ptr<ApplicationInstance> claimOnBus(const std::string& identifier,
                                                std::function<void()> onReopen,
                                                ApplicationInstance::Outcome& outcome) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  const QString name = QString::fromStdString(ApplicationInstance::busName(identifier));
  const QString path = QString::fromStdString(ApplicationInstance::objectPath(identifier));
  auto object = std::make_unique<ActivationObject>(std::move(onReopen));
  // The object is in place before the name is taken, so that a launch which sees the name can
  // always reach it.
  bus.registerVirtualObject(path, object.get());
  QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
      bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                       QDBusConnectionInterface::DontAllowReplacement);
  if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
    outcome = ApplicationInstance::Outcome::primary;
    return std::make_unique<BusInstance>(name.toStdString(), path.toStdString(), std::move(object));
  }
  bus.unregisterObject(path);
  QDBusMessage call = QDBusMessage::createMethodCall(
      name, path, QLatin1String(kApplicationInterface), QStringLiteral("Activate"));
  call << QVariantMap();
  const QDBusMessage answer = bus.call(call, QDBus::Block, 10000);
  if (answer.type() == QDBusMessage::ReplyMessage) {
    outcome = ApplicationInstance::Outcome::handedOver;
  } else {
    outcome = ApplicationInstance::Outcome::unreachable;
    NSLog("Lumivale Quick Look could not reach its running instance: " +
          answer.errorMessage().toStdString());
  }
  return nullptr;
}

std::unique_ptr<ApplicationInstance> claimBySocket(const std::string& identifier,
                                                   std::function<void()> onReopen,
                                                   ApplicationInstance::Outcome& outcome) {
  const std::string socket = ApplicationInstance::socketPath(identifier);
  const std::string lockPath = socket.substr(0, socket.size() - 7) + ".lock";
  const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd >= 0 && ::flock(lockFd, LOCK_EX | LOCK_NB) == 0) {
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(QString::fromStdString(socket)); // left by an instance that died
    if (!server->listen(QString::fromStdString(socket)))
      NSLog("Lumivale Quick Look could not listen for other launches: " +
            server->errorString().toStdString());
    QLocalServer* raw = server.get();
    QObject::connect(raw, &QLocalServer::newConnection, raw, [raw, onReopen] {
      while (QLocalSocket* connection = raw->nextPendingConnection()) {
        QObject::connect(connection, &QLocalSocket::disconnected, connection,
                         &QObject::deleteLater);
        QObject::connect(connection, &QLocalSocket::readyRead, connection, [connection, onReopen] {
          if (!connection->canReadLine())
            return;
          const QByteArray line = connection->readLine(64);
          if (line == kReopenMessage) {
            connection->write(kAcknowledgement);
            connection->flush();
            onReopen();
          }
          connection->disconnectFromServer();
        });
      }
    });
    outcome = ApplicationInstance::Outcome::primary;
    return std::make_unique<SocketInstance>(lockFd, std::move(server));
  }
  if (lockFd < 0) {
    // Without a lock there is no way to find another instance: run as the only one.
    outcome = ApplicationInstance::Outcome::primary;
    return nullptr;
  }
  ::close(lockFd);
  // The holder may still be starting: try to reach it for a few seconds.
  for (int attempt = 0; attempt < 50; ++attempt) {
    QLocalSocket client;
    client.connectToServer(QString::fromStdString(socket));
    if (client.waitForConnected(1000)) {
      client.write(kReopenMessage);
      client.waitForBytesWritten(1000);
      while (!client.canReadLine() && client.waitForReadyRead(10000)) {
      }
      if (client.readLine(64) == kAcknowledgement) {
        outcome = ApplicationInstance::Outcome::handedOver;
        return nullptr;
      }
      break;
    }
    QThread::msleep(100);
  }
  outcome = ApplicationInstance::Outcome::unreachable;
  NSLog("Lumivale Quick Look could not reach its running instance at " + socket);
  return nullptr;
}

} // namespace

std::string ApplicationInstance::busName(const std::string& identifier) {
  return sanitized(identifier, '.');
}

std::string ApplicationInstance::objectPath(const std::string& identifier) {
  return "/" + sanitized(identifier, '/');
}

std::string ApplicationInstance::socketPath(const std::string& identifier) {
  std::string folder;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    folder = runtime;
  } else {
    folder = QDir::tempPath().toStdString() + "/lumivale-" + std::to_string(::getuid());
    ::mkdir(folder.c_str(), 0700);
  }
  return folder + "/" + sanitized(identifier, '.') + ".socket";
}

std::unique_ptr<ApplicationInstance> ApplicationInstance::claim(const std::string& identifier,
                                                                std::function<void()> onReopen,
                                                                Outcome& outcome) {
  if (hasSessionBus())
    return claimOnBus(identifier, std::move(onReopen), outcome);
  return claimBySocket(identifier, std::move(onReopen), outcome);
}
