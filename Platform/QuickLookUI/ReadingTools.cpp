#include "QuickLookUI/ReadingTools.h"

#include "QuickLookUI/FileManagerReveal.h"
#include "QuickLookUI/FindBar.h"
#include "QuickLookUI/ZoomSteps.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QStandardPaths>
#include <QStyle>
#include <QToolBar>
#include <QUrl>
#include <QWebEngineView>
#include <cmath>
#include <memory>

namespace {

QPageLayout defaultPageLayout() {
  const bool letter = QLocale().measurementSystem() == QLocale::ImperialUSSystem;
  return QPageLayout(QPageSize(letter ? QPageSize::Letter : QPageSize::A4), QPageLayout::Portrait,
                     QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
}

} // namespace

ReadingTools::ReadingTools(QWidget* window, QWebEngineView* view)
    : QObject(window), window_(window), view_(view) {
  toolbar_ = new QToolBar(window);
  toolbar_->setObjectName(QStringLiteral("readingToolbar"));
  toolbar_->setMovable(false);
  toolbar_->setFloatable(false);
  toolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  toolbar_->setIconSize(QSize(16, 16));
  findBar_ = new FindBar(view->page(), window);
  QStyle* style = window->style();

  backAction_ = addAction(tr("Back"), [this] {
    if (back_)
      back_();
  });
  backAction_->setIcon(style->standardIcon(QStyle::SP_ArrowBack));
  backAction_->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Left), QKeySequence(Qt::Key_Back)});
  backAction_->setToolTip(tr("Back (Alt+Left)"));
  forwardAction_ = addAction(tr("Forward"), [this] {
    if (forward_)
      forward_();
  });
  forwardAction_->setIcon(style->standardIcon(QStyle::SP_ArrowForward));
  forwardAction_->setShortcuts(
      {QKeySequence(Qt::ALT | Qt::Key_Right), QKeySequence(Qt::Key_Forward)});
  forwardAction_->setToolTip(tr("Forward (Alt+Right)"));
  setHistoryState(false, false);
  toolbar_->addAction(backAction_);
  toolbar_->addAction(forwardAction_);
  toolbar_->addSeparator();

  QAction* zoomOut = addAction(QStringLiteral("\u2212"), [this] { zoomBy(-1); });
  zoomOut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
  zoomOut->setToolTip(tr("Zoom out (Ctrl+-)"));
  zoomResetAction_ = addAction(QStringLiteral("100%"), [this] { zoomBy(0); });
  zoomResetAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  zoomResetAction_->setToolTip(tr("Actual size (Ctrl+0)"));
  QAction* zoomIn = addAction(QStringLiteral("+"), [this] { zoomBy(1); });
  zoomIn->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
  zoomIn->setToolTip(tr("Zoom in (Ctrl++)"));
  toolbar_->addAction(zoomOut);
  toolbar_->addAction(zoomResetAction_);
  toolbar_->addAction(zoomIn);
  toolbar_->addSeparator();

  QAction* find = addAction(tr("Find"), [this] { findBar_->open(); });
  find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  find->setToolTip(tr("Find in the page (Ctrl+F)"));
  QAction* findNext = addAction(
      tr("Find Next"), [this] { findBar_->isVisible() ? findBar_->findNext() : findBar_->open(); });
  findNext->setShortcuts({QKeySequence(Qt::Key_F3), QKeySequence(Qt::CTRL | Qt::Key_G)});
  QAction* findPrevious = addAction(tr("Find Previous"), [this] {
    findBar_->isVisible() ? findBar_->findPrevious() : findBar_->open();
  });
  findPrevious->setShortcuts(
      {QKeySequence(Qt::SHIFT | Qt::Key_F3), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G)});
  toolbar_->addAction(find);

  // The document's own actions go to the right-hand end.
  auto* spacer = new QWidget(toolbar_);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  toolbar_->addWidget(spacer);
  openAction_ = addAction(tr("Open"), [this] {
    if (!document_.isEmpty())
      QDesktopServices::openUrl(QUrl::fromLocalFile(document_));
  });
  openAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  openAction_->setToolTip(tr("Open with the default application (Ctrl+O)"));
  revealAction_ = addAction(tr("Show in Folder"), [this] {
    if (!document_.isEmpty())
      FileManagerReveal::reveal(document_);
  });
  revealAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
  revealAction_->setToolTip(tr("Reveal in the file manager (Ctrl+Shift+R)"));
  QAction* exportPDF = addAction(tr("Export as PDF\u2026"), [this] { exportAsPDF(); });
  exportPDF->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
  exportPDF->setToolTip(tr("Export as PDF (Ctrl+Shift+E)"));
  QAction* printAction = addAction(tr("Print\u2026"), [this] { print(); });
  printAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  printAction->setToolTip(tr("Print (Ctrl+P)"));
  toolbar_->addAction(openAction_);
  toolbar_->addAction(revealAction_);
  toolbar_->addAction(exportPDF);
  toolbar_->addAction(printAction);
  setDocument({});

  QWebEnginePage* page = view_->page();
  // A new page starts at the engine's default factor: keep the one the user chose.
  connect(page, &QWebEnginePage::loadFinished, this, [this] {
    if (std::abs(view_->zoomFactor() - zoom_) > 0.001)
      view_->setZoomFactor(zoom_);
  });
  connect(page, &QWebEnginePage::pdfPrintingFinished, this, [this](const QString& path, bool ok) {
    report(QStringLiteral("pdf %1 %2").arg(ok ? "written" : "failed", path));
    if (!ok)
      QMessageBox::warning(window_, tr("Export as PDF"),
                           tr("The PDF could not be written to \u201c%1\u201d.").arg(path));
  });
  connect(view_, &QWebEngineView::printFinished, this, [this](bool ok) {
    printing_ = false;
    report(QStringLiteral("print %1").arg(ok ? "done" : "failed"));
  });
}

QAction* ReadingTools::addAction(const QString& text, std::function<void()> triggered) {
  auto* action = new QAction(text, window_);
  action->setShortcutContext(Qt::WindowShortcut);
  connect(action, &QAction::triggered, this, [triggered = std::move(triggered)] { triggered(); });
  window_->addAction(action);
  return action;
}

void ReadingTools::setHistoryState(bool canGoBack, bool canGoForward) {
  backAction_->setEnabled(canGoBack);
  forwardAction_->setEnabled(canGoForward);
}

void ReadingTools::setDocument(const QString& path) {
  document_ = path;
  openAction_->setEnabled(!path.isEmpty());
  revealAction_->setEnabled(!path.isEmpty());
}

void ReadingTools::setReporter(std::function<void(const QString&)> reporter) {
  report_ = std::move(reporter);
  findBar_->setReporter([this](const QString& text, int active, int total) {
    report(QStringLiteral("find %1 of %2 for %3").arg(active).arg(total).arg(text));
  });
}

void ReadingTools::report(const QString& line) const {
  if (report_)
    report_(line);
}

std::optional<bool> ReadingTools::filterKey(const QObject* watched, const QKeyEvent* key) {
  const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier |
                                           Qt::MetaModifier | Qt::ShiftModifier));
  if (plain && key->key() == Qt::Key_Escape && findBar_->isVisible()) {
    findBar_->dismiss(view_);
    return true;
  }
  if (findBar_->contains(watched))
    return false; // typing in the field: Space and the arrows are text editing there
  return std::nullopt;
}

void ReadingTools::zoomBy(int steps) {
  zoom_ = steps > 0 ? ZoomSteps::zoomedIn(zoom_) : steps < 0 ? ZoomSteps::zoomedOut(zoom_) : 1.0;
  view_->setZoomFactor(zoom_);
  zoomResetAction_->setText(QStringLiteral("%1%").arg(std::lround(zoom_ * 100)));
  report(QStringLiteral("zoom %1").arg(zoom_));
}

QString ReadingTools::pdfPath() {
  // Tests pick the file without the dialog; only with the panel's probe on.
  if (!qEnvironmentVariableIsEmpty("LUMIVALE_PANEL_PROBE") &&
      !qEnvironmentVariableIsEmpty("LUMIVALE_PANEL_PDF_PATH"))
    return qEnvironmentVariable("LUMIVALE_PANEL_PDF_PATH");
  const QString base =
      document_.isEmpty() ? window_->windowTitle() : QFileInfo(document_).completeBaseName();
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty() || !QFileInfo(folder).isDir())
    folder = QDir::homePath();
  QString path = QFileDialog::getSaveFileName(window_, tr("Export as PDF"),
                                              QDir(folder).filePath(base + ".pdf"),
                                              tr("PDF documents (*.pdf)"));
  if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
    path += QStringLiteral(".pdf");
  return path;
}

void ReadingTools::exportAsPDF() {
  const QString path = pdfPath();
  if (path.isEmpty())
    return;
  view_->page()->printToPdf(path, defaultPageLayout());
}

void ReadingTools::print() {
  if (printing_)
    return; // one at a time: the engine prints asynchronously into the printer
  auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
  printer->setPageLayout(defaultPageLayout());
  printer->setDocName(window_->windowTitle());
  QPrintDialog dialog(printer.get(), window_);
  dialog.setWindowTitle(tr("Print"));
  if (dialog.exec() != QDialog::Accepted)
    return;
  printing_ = true;
  // The printer must outlive the engine's asynchronous work: freed when it is done.
  auto* keeper = new QObject(this);
  connect(view_, &QWebEngineView::printFinished, keeper,
          [printer, keeper](bool) { keeper->deleteLater(); });
  view_->print(printer.get());
}
