#include "QuickLookUI/PanelAgent.h"

#include "QuickLook/PreviewServiceError.h"
#include "QuickLookService/ExtensionLookup.h"
#include "QuickLookService/ExtensionProcessPool.h"
#include "QuickLookService/PanelAgentNames.h"
#include "QuickLookService/PreviewServiceClient.h"
#include "QuickLookUI/PanelWebView.h"
#include "QuickLookUI/PreviewPage.h"
#include "QuickLookUI/QLPreviewPanel.h"

#include <QApplication>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDateTime>
#include <QEvent>
#include <QWebEnginePage>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

// How long after a panel's first document has loaded the next spare is begun: the new panel's
// page gets the processor first (the spare's render process starting would compete with it).
constexpr std::chrono::milliseconds kSpareDelay(300);

const char kIntrospection[] = R"(<interface name="com.lumivale.quicklook.PanelAgent">
  <method name="Show">
    <arg name="request" type="s" direction="in"/>
    <arg name="messages" type="h" direction="in"/>
    <arg name="failed" type="i" direction="out"/>
    <arg name="unfinished" type="i" direction="out"/>
  </method>
  <method name="Quit"/>
</interface>
)";

// The reply for one item: from the preview server, else from an extension process of the
// agent's own (a process found dead is replaced once).
PreviewWire::Reply fetch(const PanelAgentItem& item, ExtensionProcessPool& processes) {
  if (!item.error.empty())
    return PreviewWire::errorReply(0, {"Lumivale.PreviewService", 1, item.error});
  std::string why;
  if (auto reply = PreviewServiceClient::preview(item.appBundle, item.path, item.contentType, why))
    return std::move(*reply);
  try {
    const PreviewExtension extension{item.extensionName, item.extensionExecutable, {}};
    PreviewWire::Reply reply;
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::shared_ptr<ExtensionProcess> process = processes.processFor(extension);
      reply = process->request(item.path).get();
      const bool died =
          reply.error && reply.error->domain == "Lumivale.PreviewService" && reply.error->code == 4;
      if (!died)
        break;
      processes.discard(process);
    }
    return reply;
  } catch (const std::exception& e) {
    return PreviewWire::errorReply(
        0, makeServiceError(PreviewServiceError::unsendableRequest, e.what()));
  }
}

// Documents reached through links are served the way the caller's own were: by the extension
// that the caller's lookup (one app, or the plug-in registry) picks for the file's type.
LinkedPreviewSource linkedSource(const std::string& app,
                                 std::shared_ptr<ExtensionProcessPool> processes) {
  struct Lookup {
    std::mutex mutex;
    std::optional<ExtensionLookup> lookup;
  };
  auto shared = std::make_shared<Lookup>();
  try {
    shared->lookup.emplace(app.empty() ? ExtensionLookup::fromRegistry()
                                       : ExtensionLookup::fromApp(app));
  } catch (const std::exception&) {
    // No extensions to be had: links to documents open with the default application.
  }
  auto itemFor = [shared](const QString& path) {
    PanelAgentItem item;
    item.path = path.toStdString();
    item.displayName = std::filesystem::path(item.path).filename().string();
    std::lock_guard lock(shared->mutex);
    if (!shared->lookup) {
      item.error = "No preview extension is available.";
      return item;
    }
    if (const PreviewExtension* extension =
            shared->lookup->extensionForFile(item.path, item.contentType, item.error)) {
      item.appBundle = ExtensionLookup::appBundleOf(*extension).string();
      item.extensionName = extension->name;
      item.extensionExecutable = extension->executable.string();
    }
    return item;
  };
  LinkedPreviewSource source;
  source.canPreview = [itemFor](const QString& path) { return itemFor(path).error.empty(); };
  source.fetch = [itemFor, processes](const QString& path) {
    return fetch(itemFor(path), *processes);
  };
  return source;
}

} // namespace

PanelAgent::PanelAgent(bool dark, std::chrono::milliseconds idleTimeout, QObject* parent)
    : QDBusVirtualObject(parent), dark_(dark),
      spare_(dark, [this] { return callsWaiting_.load() > 0; }),
      processes_(std::make_shared<ExtensionProcessPool>()) {
  idleTimer_.setSingleShot(true);
  idleTimer_.setInterval(idleTimeout);
  connect(&idleTimer_, &QTimer::timeout, this, [this] {
    if (panels_.empty())
      leave();
  });
  idleTimer_.start();
  spare_.prepare();
}

PanelAgent::~PanelAgent() {
  for (auto& [panel, open] : panels_) {
    delete panel;
    std::fclose(open.messages);
  }
  spare_.discard();
  processes_->endAll();
}

bool PanelAgent::publish(QDBusConnection bus, QString& error) {
  bus_ = bus;
  if (!bus.registerVirtualObject(QLatin1String(PanelAgentNames::kObjectPath), this)) {
    error = QStringLiteral("cannot register the panel object: ") + bus.lastError().message();
    return false;
  }
  if (!bus.registerService(QLatin1String(PanelAgentNames::kService))) {
    error = QStringLiteral("cannot own %1: %2")
                .arg(QLatin1String(PanelAgentNames::kService), bus.lastError().message());
    return false;
  }
  return true;
}

QString PanelAgent::introspect(const QString&) const {
  return QString::fromLatin1(kIntrospection);
}

bool PanelAgent::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
  if (message.type() != QDBusMessage::MethodCallMessage ||
      message.interface() != QLatin1String(PanelAgentNames::kInterface))
    return false;
  const bool isShow = message.member() == QLatin1String("Show");
  if (!isShow && message.member() != QLatin1String("Quit"))
    return false;
  // Called on the bus's thread: panels are made on the main thread, where the spare's next
  // step waits until this call has been handled.
  message.setDelayedReply(true);
  ++callsWaiting_;
  QMetaObject::invokeMethod(
      this,
      [this, message, connection, isShow] {
        --callsWaiting_;
        isShow ? show(message, connection) : quit(message, connection);
      },
      Qt::QueuedConnection);
  return true;
}

bool PanelAgent::sameDesktop(const PanelAgentRequest& request, std::string& why) const {
  const std::map<std::string, std::string> own = PanelAgentRequest::currentDesktop();
  for (const std::string& name : PanelAgentRequest::desktopVariables()) {
    const auto mine = own.find(name);
    const auto theirs = request.desktop.find(name);
    const std::string a = mine == own.end() ? "" : mine->second;
    const std::string b = theirs == request.desktop.end() ? "" : theirs->second;
    if (a != b) {
      why = "the panel agent runs with " + name + "=\"" + a + "\", the caller with \"" + b + "\"";
      return false;
    }
  }
  return true;
}

void PanelAgent::show(const QDBusMessage& message, const QDBusConnection& connection) {
  const QList<QVariant> args = message.arguments();
  auto refuse = [&](const QString& name, const std::string& why) {
    connection.send(message.createErrorReply(name, QString::fromStdString(why)));
  };
  if (message.signature() != QLatin1String("sh"))
    return refuse(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                  "Show takes (request, messages)");
  std::string why;
  std::optional<PanelAgentRequest> request =
      PanelAgentRequest::fromJSON(args[0].toString().toStdString(), why);
  if (!request)
    return refuse(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"), why);
  if (leaving_)
    return refuse(QLatin1String(PanelAgentNames::kQuittingError), "the panel agent is quitting");
  if (!sameDesktop(*request, why))
    return refuse(QLatin1String(PanelAgentNames::kOtherDesktopError), why);
  const QDBusUnixFileDescriptor descriptor = args[1].value<QDBusUnixFileDescriptor>();
  const int fd = descriptor.isValid() ? ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 3)
                                      : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  std::FILE* messages = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
  if (!messages) {
    if (fd >= 0)
      ::close(fd);
    return refuse(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                  "the panel's messages cannot be written");
  }
  std::setvbuf(messages, nullptr, _IOLBF, 0);

  std::optional<PanelProbe> probe = PanelProbe::fromMode(QByteArray::fromStdString(request->probe));
  if (probe)
    std::fprintf(messages, "preview panel: timeline agent at=%lld\n",
                 static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
  std::vector<QLPreviewItem> items;
  for (PanelAgentItem& item : request->items) {
    QString name = QString::fromStdString(item.displayName);
    QString path = QString::fromStdString(item.path);
    items.push_back(
        {std::move(name),
         [item = std::move(item), processes = processes_] { return fetch(item, *processes); },
         std::move(path)});
  }
  QLPreviewPanel* panel = spare_.take().release();
  panel->whenFirstPageLoaded([this, messages, timed = probe.has_value()] {
    if (leaving_)
      return;
    if (timed)
      std::fprintf(messages, "preview panel: timeline spare-scheduled at=%lld\n",
                   static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    spare_.prepare(kSpareDelay);
  });
  panel->setLinkedPreviewSource(linkedSource(request->app, processes_));
  panel->installEventFilter(this);
  panel->open(std::move(items), std::move(probe), messages);
  panels_.emplace(panel, OpenPanel{panel, message, connection, messages});
  idleTimer_.stop();
  // A caller that goes away (interrupted, killed) takes its panel with it.
  auto* watcher = new QDBusServiceWatcher(message.service(), connection,
                                          QDBusServiceWatcher::WatchForUnregistration, panel);
  connect(watcher, &QDBusServiceWatcher::serviceUnregistered, panel, [panel] { panel->close(); });
}

void PanelAgent::quit(const QDBusMessage& message, const QDBusConnection& connection) {
  terminate();
  connection.send(message.createReply());
}

void PanelAgent::terminate() {
  leave();
  for (auto& [panel, open] : panels_)
    panel->close();
}

bool PanelAgent::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Close) {
    auto* panel = static_cast<QLPreviewPanel*>(watched);
    if (panels_.count(panel))
      QTimer::singleShot(0, this, [this, panel] {
        if (panels_.count(panel) && !panel->isVisible())
          panelClosed(panel);
      });
  }
  return false;
}

void PanelAgent::panelClosed(QLPreviewPanel* panel) {
  auto found = panels_.find(panel);
  OpenPanel open = found->second;
  panels_.erase(found);
  open.connection.send(
      open.call.createReply(QList<QVariant>{panel->failedItems(), panel->pendingItems()}));
  panel->removeEventFilter(this);
  // The page may still report (a probe's last line) until the panel is gone: the stream is
  // closed after it.
  connect(panel, &QObject::destroyed, [messages = open.messages] { std::fclose(messages); });
  panel->deleteLater();
  if (!panels_.empty())
    return;
  if (leaving_) {
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    return;
  }
  idleTimer_.start();
  spare_.prepare();
}

void PanelAgent::leave() {
  if (leaving_)
    return;
  leaving_ = true;
  idleTimer_.stop();
  // New callers start a new agent (or show the panel themselves) from now on.
  if (bus_)
    bus_->unregisterService(QLatin1String(PanelAgentNames::kService));
  spare_.discard();
  if (panels_.empty())
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}
