// FindBar: the preview panel's find-in-page bar. Typing searches the page as you type; Enter
// and Shift+Enter go to the next and previous match; the bar shows "n of m". Hidden until
// opened; closing it clears the highlighted matches. Main thread only.
#pragma once

#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;
class QWebEngineFindTextResult;
class QWebEnginePage;

class FindBar : public QWidget {
public:
  // `report(text, active, total)` is told each search's outcome (the panel's probe uses it).
  FindBar(QWebEnginePage* page, QWidget* parent);

  void setReporter(std::function<void(const QString&, int, int)> report);
  // Shows the bar (or focuses it again) with the field's text selected.
  void open();
  // Hides the bar and clears the search; `focusAfter` gets the keyboard focus.
  void dismiss(QWidget* focusAfter);
  // Whether `widget` is the bar or inside it.
  bool contains(const QObject* object) const;

  void findNext() { search(false); }
  void findPrevious() { search(true); }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void search(bool backward);
  void showResult(const QString& text, const QWebEngineFindTextResult& result);

  QWebEnginePage* page_;
  QLineEdit* field_;
  QLabel* count_;
  std::function<void(const QString&, int, int)> report_;
};
