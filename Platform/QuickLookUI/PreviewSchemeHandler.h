// PreviewSchemeHandler: answers the panel's two schemes from memory. Item n's page address
// (PreviewSchemes::pageURL) is item n's page, and no other path under it is anything;
// "cid:<identifier>" is an attachment of the page that asks for it (known from the request's
// initiator, else the item on screen). Used on the main thread only.
#pragma once

#include "QuickLook/PreviewWire.h"

#include <QWebEngineUrlSchemeHandler>
#include <functional>
#include <memory>

class PreviewSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
  // `replyOf(n)`: item n's reply once it has arrived (null before, or for no such item);
  // `pageURLOf(n)`: the address item n's page is served at; `currentItem()`: the item on screen.
  PreviewSchemeHandler(std::function<std::shared_ptr<const PreviewWire::Reply>(int)> replyOf,
                       std::function<QUrl(int)> pageURLOf, std::function<int()> currentItem,
                       QObject* parent = nullptr);

  void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
  std::function<std::shared_ptr<const PreviewWire::Reply>(int)> replyOf_;
  std::function<QUrl(int)> pageURLOf_;
  std::function<int()> currentItem_;
};
