// PortalAppearanceWatcher: listens for the freedesktop portal's colour-scheme changes on the
// session bus and hands each new preference to a callback on the main thread.
#pragma once

#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class PortalAppearanceWatcher final : public QObject {
  Q_OBJECT

public:
  // `onChange` gets true for dark, false for light, nullopt for no preference.
  explicit PortalAppearanceWatcher(std::function<void(std::optional<bool>)> onChange);
  bool isListening() const { return listening_; }

public slots:
  void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
  std::function<void(std::optional<bool>)> onChange_;
  bool listening_ = false;
};
