#include "QuickLookService/PanelAgentRequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>

namespace {

constexpr std::size_t kMaxItems = 10000;

struct Field {
  const char* key;
  std::string PanelAgentItem::*member;
};
constexpr Field kItemFields[] = {
    {"name", &PanelAgentItem::displayName},
    {"path", &PanelAgentItem::path},
    {"contentType", &PanelAgentItem::contentType},
    {"app", &PanelAgentItem::appBundle},
    {"extension", &PanelAgentItem::extensionName},
    {"executable", &PanelAgentItem::extensionExecutable},
    {"error", &PanelAgentItem::error},
};

QString text(const std::string& value) {
  return QString::fromStdString(value);
}

} // namespace

const std::vector<std::string>& PanelAgentRequest::desktopVariables() {
  static const std::vector<std::string> names = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                                 "GTK_THEME"};
  return names;
}

std::map<std::string, std::string> PanelAgentRequest::currentDesktop() {
  std::map<std::string, std::string> desktop;
  for (const std::string& name : desktopVariables())
    if (const char* value = std::getenv(name.c_str()); value && *value)
      desktop[name] = value;
  return desktop;
}

std::string PanelAgentRequest::toJSON() const {
  QJsonArray list;
  for (const PanelAgentItem& item : items) {
    QJsonObject object;
    for (const Field& field : kItemFields)
      object.insert(QLatin1String(field.key), text(item.*field.member));
    list.append(object);
  }
  QJsonObject environment;
  for (const auto& [name, value] : desktop)
    environment.insert(text(name), text(value));
  QJsonObject root;
  root.insert(QStringLiteral("items"), list);
  root.insert(QStringLiteral("probe"), text(probe));
  root.insert(QStringLiteral("app"), text(app));
  root.insert(QStringLiteral("desktop"), environment);
  return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString();
}

std::optional<PanelAgentRequest> PanelAgentRequest::fromJSON(const std::string& json,
                                                             std::string& why) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) {
    why = "the request is not a JSON object";
    return std::nullopt;
  }
  const QJsonObject root = document.object();
  const QJsonValue items = root.value(QStringLiteral("items"));
  const QJsonValue probe = root.value(QStringLiteral("probe"));
  const QJsonValue app = root.value(QStringLiteral("app"));
  const QJsonValue desktop = root.value(QStringLiteral("desktop"));
  if (!items.isArray() || items.toArray().isEmpty() ||
      static_cast<std::size_t>(items.toArray().size()) > kMaxItems) {
    why = "the request names no documents (or too many)";
    return std::nullopt;
  }
  if (!(probe.isString() || probe.isUndefined()) || !(app.isString() || app.isUndefined()) ||
      !(desktop.isObject() || desktop.isUndefined())) {
    why = "the request's probe, app or desktop is malformed";
    return std::nullopt;
  }
  PanelAgentRequest request;
  request.probe = probe.toString().toStdString();
  request.app = app.toString().toStdString();
  for (const QJsonValue& value : items.toArray()) {
    if (!value.isObject()) {
      why = "a document of the request is not an object";
      return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    PanelAgentItem item;
    for (const Field& field : kItemFields) {
      const QJsonValue member = object.value(QLatin1String(field.key));
      if (!member.isString()) {
        why = std::string("a document of the request has no text \"") + field.key + "\"";
        return std::nullopt;
      }
      item.*field.member = member.toString().toStdString();
    }
    if (item.error.empty() && (item.path.empty() || item.path[0] != '/' ||
                               item.extensionExecutable.empty() || item.appBundle.empty())) {
      why = "a document of the request has no absolute path or no extension";
      return std::nullopt;
    }
    request.items.push_back(std::move(item));
  }
  const QJsonObject environment = desktop.toObject();
  for (auto it = environment.begin(); it != environment.end(); ++it) {
    if (!it.value().isString()) {
      why = "the request's desktop holds a value that is not a text";
      return std::nullopt;
    }
    request.desktop[it.key().toStdString()] = it.value().toString().toStdString();
  }
  return request;
}
