#include "SoftwareUpdate/SPUStandardUserDriver.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

// Release notes come from the network: they are shown, never allowed to load anything.
class ReleaseNotesView : public QTextBrowser {
public:
  using QTextBrowser::QTextBrowser;
  QVariant loadResource(int, const QUrl&) override { return {}; }
};

QString byteCount(std::uint64_t bytes) {
  return QLocale().formattedDataSize(static_cast<qint64>(bytes));
}

} // namespace

SPUStandardUserDriver::SPUStandardUserDriver(SPUStandardUserDriverDelegate* delegate,
                                             std::string applicationName,
                                             std::string displayVersion)
    : delegate_(delegate), applicationName_(std::move(applicationName)),
      displayVersion_(std::move(displayVersion)) {}

SPUStandardUserDriver::~SPUStandardUserDriver() {
  delete statusWindow_;
}

std::string SPUStandardUserDriver::updateAvailableTitle(const std::string& applicationName) {
  return "A new version of " + applicationName + " is available!";
}

std::string SPUStandardUserDriver::updateAvailableText(const std::string& applicationName,
                                                       const std::string& newVersion,
                                                       const std::string& installedVersion) {
  return applicationName + " " + newVersion + " is now available\u2014you have " +
         installedVersion + ". Would you like to download it now?";
}

int SPUStandardUserDriver::runModal(QDialog& dialog) {
  if (delegate_)
    delegate_->standardUserDriverWillShowModalAlert();
  dialog.raise();
  dialog.activateWindow();
  int result = dialog.exec();
  if (delegate_)
    delegate_->standardUserDriverDidShowModalAlert();
  return result;
}

void SPUStandardUserDriver::showStatus(const QString& title, std::function<void()> cancel) {
  if (!statusWindow_) {
    auto* window = new QDialog;
    window->setObjectName("SoftwareUpdateStatus");
    window->setWindowTitle(qs("Updating " + applicationName_));
    auto* layout = new QVBoxLayout(window);
    statusLabel_ = new QLabel(window);
    statusLabel_->setObjectName("statusLabel");
    statusProgress_ = new QProgressBar(window);
    statusCancel_ = new QPushButton(QObject::tr("Cancel"), window);
    statusCancel_->setObjectName("cancelButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(statusCancel_);
    layout->addWidget(statusLabel_);
    layout->addWidget(statusProgress_);
    layout->addLayout(buttons);
    window->setMinimumWidth(360);
    QObject::connect(statusCancel_, &QPushButton::clicked, window, [this] {
      if (auto action = std::move(statusCancelAction_))
        action();
    });
    // Closing the window counts as Cancel.
    QObject::connect(window, &QDialog::rejected, window, [this] {
      if (auto action = std::move(statusCancelAction_))
        action();
    });
    statusWindow_ = window;
  }
  statusLabel_->setText(title);
  statusCancelAction_ = std::move(cancel);
  statusCancel_->setEnabled(static_cast<bool>(statusCancelAction_));
  statusWindow_->show();
}

void SPUStandardUserDriver::hideStatus() {
  statusCancelAction_ = nullptr;
  if (statusWindow_) {
    statusWindow_->hide();
    statusWindow_->deleteLater();
    statusWindow_ = nullptr;
  }
}

void SPUStandardUserDriver::showUserInitiatedUpdateCheck(std::function<void()> cancel) {
  showStatus(QObject::tr("Checking for updates\u2026"), std::move(cancel));
  statusProgress_->setRange(0, 0);
}

void SPUStandardUserDriver::showUpdateFound(const SUAppcastItem& item, bool,
                                            std::function<void(SPUUserUpdateChoice)> reply) {
  hideStatus();
  QDialog dialog;
  dialog.setObjectName("SoftwareUpdateAvailable");
  dialog.setWindowTitle(QObject::tr("Software Update"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* title = new QLabel(qs(updateAvailableTitle(applicationName_)), &dialog);
  title->setObjectName("titleLabel");
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  auto* text = new QLabel(
      qs(updateAvailableText(applicationName_, item.displayVersionString, displayVersion_)),
      &dialog);
  text->setObjectName("informativeLabel");
  text->setWordWrap(true);
  layout->addWidget(title);
  layout->addWidget(text);

  auto* notes = new ReleaseNotesView(&dialog);
  notes->setObjectName("releaseNotes");
  notes->setOpenLinks(false);
  notes->setOpenExternalLinks(false);
  QString description = qs(item.itemDescription).trimmed();
  if (description.isEmpty() && !item.releaseNotesURL.empty())
    notes->setPlainText(QObject::tr("Release notes: %1").arg(qs(item.releaseNotesURL)));
  else if (Qt::mightBeRichText(description))
    notes->setHtml(description);
  else
    notes->setPlainText(description);
  if (!notes->toPlainText().trimmed().isEmpty()) {
    layout->addWidget(new QLabel(QObject::tr("Release Notes:"), &dialog));
    layout->addWidget(notes);
  } else {
    notes->hide();
  }

  // Skip on its own at the left, the two answers for now at the right, Install the default.
  auto* skip = new QPushButton(QObject::tr("Skip This Version"), &dialog);
  auto* later = new QPushButton(QObject::tr("Remind Me Later"), &dialog);
  auto* install = new QPushButton(QObject::tr("Install Update"), &dialog);
  skip->setObjectName("skipButton");
  later->setObjectName("laterButton");
  install->setObjectName("installButton");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(skip);
  buttons->addStretch();
  buttons->addWidget(later);
  buttons->addWidget(install);
  install->setDefault(true);
  SPUUserUpdateChoice choice = SPUUserUpdateChoice::RemindLater;
  QObject::connect(skip, &QPushButton::clicked, &dialog, [&] {
    choice = SPUUserUpdateChoice::Skip;
    dialog.done(QDialog::Rejected);
  });
  QObject::connect(later, &QPushButton::clicked, &dialog, [&] {
    choice = SPUUserUpdateChoice::RemindLater;
    dialog.done(QDialog::Rejected);
  });
  QObject::connect(install, &QPushButton::clicked, &dialog, [&] {
    choice = SPUUserUpdateChoice::Install;
    dialog.done(QDialog::Accepted);
  });
  layout->addLayout(buttons);
  dialog.resize(520, 420);
  runModal(dialog);
  reply(choice);
}

void SPUStandardUserDriver::showUpdateNotFound(std::function<void()> acknowledge) {
  hideStatus();
  QMessageBox box(QMessageBox::Information, QObject::tr("Software Update"),
                  QObject::tr("You\u2019re up to date!"), QMessageBox::Ok);
  box.setObjectName("SoftwareUpdateUpToDate");
  box.setInformativeText(
      qs(applicationName_ + " " + displayVersion_ + " is currently the newest version available."));
  runModal(box);
  acknowledge();
}

void SPUStandardUserDriver::showUpdaterError(const std::string& message,
                                             std::function<void()> acknowledge) {
  hideStatus();
  QMessageBox box(QMessageBox::Warning, QObject::tr("Software Update"),
                  QObject::tr("Update Error!"), QMessageBox::Ok);
  box.setObjectName("SoftwareUpdateError");
  box.setInformativeText(qs(message));
  runModal(box);
  acknowledge();
}

void SPUStandardUserDriver::showDownloadProgress(std::uint64_t received,
                                                 std::uint64_t expectedLength,
                                                 std::function<void()> cancel) {
  showStatus(QObject::tr("Downloading update\u2026 %1 of %2")
                 .arg(byteCount(received), byteCount(expectedLength)),
             std::move(cancel));
  // The bar counts in thousandths so that sizes beyond int still fit.
  statusProgress_->setRange(0, 1000);
  statusProgress_->setValue(
      expectedLength ? static_cast<int>(std::min<std::uint64_t>(received, expectedLength) * 1000 /
                                        expectedLength)
                     : 0);
}

void SPUStandardUserDriver::showExtractingUpdate() {
  showStatus(QObject::tr("Extracting update\u2026"), nullptr);
  statusProgress_->setRange(0, 0);
}

void SPUStandardUserDriver::showReadyToRelaunch() {
  showStatus(QObject::tr("Installing update and relaunching\u2026"), nullptr);
  statusProgress_->setRange(0, 0);
}

void SPUStandardUserDriver::dismissUpdateInstallation() {
  hideStatus();
}
