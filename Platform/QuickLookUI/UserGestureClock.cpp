#include "QuickLookUI/UserGestureClock.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

UserGestureClock::UserGestureClock(QWidget* window) : QObject(window), window_(window) {
  // The page's view is made of inner widgets: watch them all from the application.
  qApp->installEventFilter(this);
}

UserGestureClock::~UserGestureClock() {
  qApp->removeEventFilter(this);
}

bool UserGestureClock::recent(int withinMs) const {
  return sinceGesture_.isValid() && sinceGesture_.elapsed() <= withinMs;
}

bool UserGestureClock::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::MouseButtonRelease && type != QEvent::KeyPress)
    return false;
  if (!watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != window_)
    return false;
  if (type == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Space)
      return false;
  }
  sinceGesture_.start();
  return false;
}
