#include "QuickLookService/PreviewServer.h"

#include "QuickLookService/PreviewServiceNames.h"
#include "QuickLookService/ReplyTransfer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kServiceDomain = "Lumivale.PreviewService";
constexpr std::size_t kCacheBytes = 256u << 20;

PreviewWire::Reply failure(int code, std::string description) {
  return PreviewWire::errorReply(0, {kServiceDomain, code, std::move(description)});
}

// The error ExtensionProcess gives requests whose process died.
bool processDied(const PreviewWire::Reply& reply) {
  return reply.error && reply.error->domain == kServiceDomain && reply.error->code == 4;
}

std::string canonical(const std::string& path) {
  std::error_code ec;
  const fs::path resolved = fs::canonical(path, ec);
  return ec ? path : resolved.string();
}

const char kIntrospection[] = R"(<interface name="com.lumivale.quicklook.PreviewService">
  <method name="Preview">
    <arg name="app" type="s" direction="in"/>
    <arg name="path" type="s" direction="in"/>
    <arg name="contentType" type="s" direction="in"/>
    <arg name="reply" type="h" direction="out"/>
  </method>
  <method name="Reset">
    <arg name="what" type="s" direction="in"/>
  </method>
</interface>
)";

} // namespace

PreviewServer::PreviewServer(fs::path appBundle, std::unique_ptr<PreviewExtensionChooser> chooser,
                             std::chrono::milliseconds idleTimeout, QObject* parent)
    : QDBusVirtualObject(parent), appBundle_(canonical(appBundle.string())),
      chooser_(std::move(chooser)), processes_(std::make_shared<ExtensionProcessPool>()),
      cache_(std::make_shared<ReplyCache>(kCacheBytes)) {
  idleTimer_.setSingleShot(true);
  idleTimer_.setInterval(idleTimeout);
  connect(&idleTimer_, &QTimer::timeout, this, [this] {
    if (inFlight_ == 0)
      leave();
  });
  idleTimer_.start();
}

PreviewServer::~PreviewServer() {
  processes_->endAll();
}

bool PreviewServer::publish(QDBusConnection bus, QString& error) {
  bus_ = bus;
  if (!bus.registerVirtualObject(QLatin1String(PreviewServiceNames::kObjectPath), this)) {
    error = QStringLiteral("cannot register the preview object: ") + bus.lastError().message();
    return false;
  }
  if (!bus.registerService(QLatin1String(PreviewServiceNames::kService))) {
    error = QStringLiteral("cannot own %1: %2")
                .arg(QLatin1String(PreviewServiceNames::kService), bus.lastError().message());
    return false;
  }
  return true;
}

QString PreviewServer::introspect(const QString&) const {
  return QString::fromLatin1(kIntrospection);
}

bool PreviewServer::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
  if (message.type() != QDBusMessage::MethodCallMessage ||
      message.interface() != QLatin1String(PreviewServiceNames::kInterface))
    return false;
  if (message.member() == QLatin1String("Preview")) {
    preview(message, connection);
    return true;
  }
  if (message.member() == QLatin1String("Reset")) {
    reset(message, connection);
    return true;
  }
  return false;
}

void PreviewServer::preview(const QDBusMessage& message, const QDBusConnection& connection) {
  const QList<QVariant> args = message.arguments();
  if (message.signature() != QLatin1String("sss")) {
    connection.send(message.createErrorReply(QDBusError::InvalidArgs,
                                             QStringLiteral("Preview takes (app, path, type)")));
    return;
  }
  const std::string app = args[0].toString().toStdString();
  const std::string path = args[1].toString().toStdString();
  const std::string contentType = args[2].toString().toStdString();
  if (canonical(app) != appBundle_.string()) {
    connection.send(message.createErrorReply(
        QLatin1String(PreviewServiceNames::kOtherAppError),
        QStringLiteral("this preview service serves %1").arg(QString::fromStdString(appBundle_))));
    return;
  }
  message.setDelayedReply(true);
  requestStarted();
  std::thread([this, message, connection, path, contentType] {
    PreviewWire::Reply reply = makePreview(path, contentType);
    QDBusMessage answer;
    try {
      const int fd = ReplyTransfer::writeToMemoryFile(reply);
      answer = message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fd)));
      ::close(fd); // the descriptor object holds its own duplicate
    } catch (const std::exception& e) {
      answer = message.createErrorReply(QLatin1String(PreviewServiceNames::kFailedError),
                                        QString::fromUtf8(e.what()));
    }
    QMetaObject::invokeMethod(
        this,
        [this, connection, answer] {
          connection.send(answer);
          requestFinished();
        },
        Qt::QueuedConnection);
  }).detach();
}

PreviewWire::Reply PreviewServer::makePreview(const std::string& path,
                                              const std::string& contentType) {
  if (path.empty() || path[0] != '/')
    return failure(1, "The document's path must be absolute.");
  std::optional<UTType> type =
      !contentType.empty()
          ? UTType::fromIdentifier(contentType)
          : UTType::fromFilenameExtension(fs::path(path).has_extension()
                                              ? fs::path(path).extension().string().substr(1)
                                              : std::string(),
                                          UTType::data);
  if (!type)
    return failure(2, "The content type of the file cannot be determined.");
  std::optional<PreviewExtension> extension = chooser_->extensionFor(*type);
  if (!extension)
    return failure(3, "No preview extension handles content type " + type->identifier() + ".");

  const std::optional<ReplyCacheKey> key = ReplyCacheKey::of(path, type->identifier());
  if (key)
    if (auto cached = cache_->find(*key))
      return *cached;

  const std::uint64_t resetsBefore = resets_;
  const std::int64_t started = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
  PreviewWire::Reply reply;
  try {
    // A process found dead (it crashed on an earlier request, or on another one in flight with
    // this) is replaced, and the request is sent once more to the new process.
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::shared_ptr<ExtensionProcess> process = processes_->processFor(*extension);
      reply = process->request(path).get();
      if (!processDied(reply))
        break;
      processes_->discard(process);
      if (resetsBefore != resets_)
        break;
    }
  } catch (const std::exception& e) {
    return failure(5, e.what());
  }
  if (reply.error && resetsBefore != resets_)
    return failure(6, "The preview was cancelled: the preview service was reset.");
  // Cached only when neither the document nor a file it draws on changed while it was being
  // previewed.
  if (!reply.error && key && ReplyCacheKey::of(path, type->identifier()) == key)
    cache_->insert(*key, std::make_shared<const PreviewWire::Reply>(reply), started);
  return reply;
}

void PreviewServer::reset(const QDBusMessage& message, const QDBusConnection& connection) {
  const QList<QVariant> args = message.arguments();
  const QString what = args.isEmpty() ? QString() : args[0].toString();
  if (message.signature() != QLatin1String("s") ||
      (!what.isEmpty() && what != QLatin1String("cache"))) {
    connection.send(message.createErrorReply(QDBusError::InvalidArgs,
                                             QStringLiteral("Reset takes \"\" or \"cache\"")));
    return;
  }
  ++resets_;
  processes_->endAll();
  try {
    chooser_->reload();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quicklookd: cannot re-read the extensions: %s\n", e.what());
  }
  if (what == QLatin1String("cache"))
    cache_->clear();
  connection.send(message.createReply());
}

// The bus may deliver calls on its own thread: the counter is atomic, the timer is only ever
// touched on the server's thread.
void PreviewServer::requestStarted() {
  ++inFlight_;
  QMetaObject::invokeMethod(
      this, [this] { idleTimer_.stop(); }, Qt::QueuedConnection);
}

void PreviewServer::requestFinished() {
  if (--inFlight_ != 0)
    return;
  if (leaving_)
    QCoreApplication::quit();
  else
    idleTimer_.start();
}

void PreviewServer::leave() {
  if (!leaving_) {
    leaving_ = true;
    idleTimer_.stop();
    // The name first: a process on its way out still holds it until it is gone.
    if (bus_)
      bus_->unregisterService(QLatin1String(PreviewServiceNames::kService));
  }
  if (inFlight_ == 0)
    QCoreApplication::quit();
}
