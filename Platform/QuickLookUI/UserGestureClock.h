// UserGestureClock: when the user last clicked or pressed Enter in one window. The panel
// follows a link only right after such a gesture, so that a page script cannot navigate on its
// own (the engine reports a scripted navigation like a clicked link). Input events come from
// the window system through Qt, which pages cannot fake. Main thread only.
#pragma once

#include <QElapsedTimer>
#include <QObject>

class QWidget;

class UserGestureClock : public QObject {
public:
  explicit UserGestureClock(QWidget* window);
  ~UserGestureClock() override;

  // Whether a gesture happened within the last `withinMs` milliseconds.
  bool recent(int withinMs = 3000) const;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QWidget* window_;
  QElapsedTimer sinceGesture_; // invalid until the first gesture
};
