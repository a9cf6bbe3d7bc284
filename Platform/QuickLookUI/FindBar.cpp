#include "QuickLookUI/FindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QToolButton>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>

FindBar::FindBar(QWebEnginePage* page, QWidget* parent) : QWidget(parent), page_(page) {
  setObjectName(QStringLiteral("findBar"));
  field_ = new QLineEdit(this);
  field_->setPlaceholderText(tr("Find in page"));
  field_->setClearButtonEnabled(true);
  field_->setMinimumWidth(220);
  field_->setMaximumWidth(360);
  field_->installEventFilter(this);
  count_ = new QLabel(this);
  count_->setMinimumWidth(90);
  auto* previous = new QToolButton(this);
  previous->setArrowType(Qt::UpArrow);
  previous->setToolTip(tr("Previous match (Shift+Enter)"));
  previous->setAutoRaise(true);
  auto* next = new QToolButton(this);
  next->setArrowType(Qt::DownArrow);
  next->setToolTip(tr("Next match (Enter)"));
  next->setAutoRaise(true);
  auto* done = new QToolButton(this);
  done->setText(tr("Done"));
  done->setAutoRaise(true);
  done->setToolTip(tr("Close the find bar (Escape)"));

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(8, 4, 8, 4);
  layout->addWidget(field_, 1);
  layout->addWidget(count_);
  layout->addWidget(previous);
  layout->addWidget(next);
  layout->addStretch(1);
  layout->addWidget(done);

  connect(field_, &QLineEdit::textChanged, this, [this] { search(false); });
  connect(previous, &QToolButton::clicked, this, [this] { search(true); });
  connect(next, &QToolButton::clicked, this, [this] { search(false); });
  connect(done, &QToolButton::clicked, this, [this] { dismiss(parentWidget()); });
  hide();
}

void FindBar::setReporter(std::function<void(const QString&, int, int)> report) {
  report_ = std::move(report);
}

void FindBar::open() {
  show();
  field_->setFocus(Qt::ShortcutFocusReason);
  field_->selectAll();
  if (!field_->text().isEmpty())
    search(false);
}

void FindBar::dismiss(QWidget* focusAfter) {
  page_->findText(QString()); // clears the highlighted matches
  count_->clear();
  hide();
  if (focusAfter)
    focusAfter->setFocus();
}

bool FindBar::contains(const QObject* object) const {
  for (; object; object = object->parent())
    if (object == this)
      return true;
  return false;
}

void FindBar::search(bool backward) {
  const QString text = field_->text();
  if (text.isEmpty()) {
    page_->findText(QString());
    count_->clear();
    return;
  }
  // Typing replaces a search still running: only the answer for the field's text counts.
  page_->findText(text, backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags(),
                  [bar = QPointer<FindBar>(this), text](const QWebEngineFindTextResult& result) {
                    if (bar)
                      bar->showResult(text, result);
                  });
}

void FindBar::showResult(const QString& text, const QWebEngineFindTextResult& result) {
  if (text != field_->text() || isHidden())
    return;
  const int total = result.numberOfMatches();
  const int active = total > 0 ? result.activeMatch() : 0;
  count_->setText(total > 0 ? tr("%1 of %2").arg(active).arg(total) : tr("No matches"));
  if (report_)
    report_(text, active, total);
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == field_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      search(key->modifiers() & Qt::ShiftModifier);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
