#include "AppKit/NSAlert.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QString>

NSModalResponse NSAlert::runModal() {
  QMessageBox box;
  box.setWindowTitle(QString());
  box.setIcon(QMessageBox::Warning);
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(messageText));
  box.setInformativeText(QString::fromStdString(informativeText));
  std::vector<std::string> titles = buttons_.empty() ? std::vector<std::string>{"OK"} : buttons_;
  std::vector<QAbstractButton*> added;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    QPushButton* button = box.addButton(QString::fromStdString(titles[i]),
                                        i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
    added.push_back(button);
    if (i == 0)
      box.setDefaultButton(button);
  }
  box.setEscapeButton(added.back());
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.exec();
  for (std::size_t i = 0; i < added.size(); ++i)
    if (box.clickedButton() == added[i])
      return NSAlertFirstButtonReturn + static_cast<NSModalResponse>(i);
  return NSAlertFirstButtonReturn + static_cast<NSModalResponse>(added.size() - 1);
}
