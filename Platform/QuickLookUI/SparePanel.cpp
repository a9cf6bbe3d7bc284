#include "QuickLookUI/SparePanel.h"

#include "QuickLookUI/PanelWebView.h"
#include "QuickLookUI/QLPreviewPanel.h"

namespace {

// How soon a step waiting behind a request looks again.
constexpr std::chrono::milliseconds kWaitBehindRequest(20);

} // namespace

SparePanel::SparePanel(bool dark, std::function<bool()> requestWaiting, QObject* parent)
    : QObject(parent), dark_(dark), requestWaiting_(std::move(requestWaiting)) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { step(); });
}

SparePanel::~SparePanel() {
  discard();
}

void SparePanel::prepare(std::chrono::milliseconds delay) {
  if (stage_ == Stage::complete || started_)
    return;
  timer_.start(delay);
}

void SparePanel::step() {
  if (requestWaiting_ && requestWaiting_()) {
    // The request takes what there is; the next step follows once it has been handled.
    timer_.start(kWaitBehindRequest);
    return;
  }
  started_ = true;
  switch (stage_) {
  case Stage::none:
    web_ = std::make_unique<PanelWebView>(dark_);
    stage_ = Stage::webView;
    break;
  case Stage::webView:
    // The render process starts from here on, on its own.
    web_->warmUp();
    stage_ = Stage::warmingUp;
    break;
  case Stage::warmingUp:
    panel_ = std::make_unique<QLPreviewPanel>(dark_, std::move(web_));
    stage_ = Stage::panel;
    break;
  case Stage::panel:
    panel_->prepareWindow();
    stage_ = Stage::complete;
    break;
  case Stage::complete:
    break;
  }
  if (stage_ != Stage::complete)
    timer_.start(0);
}

std::unique_ptr<QLPreviewPanel> SparePanel::take() {
  timer_.stop();
  std::unique_ptr<QLPreviewPanel> panel;
  switch (stage_) {
  case Stage::none:
    panel = std::make_unique<QLPreviewPanel>(dark_);
    break;
  case Stage::webView:
  case Stage::warmingUp:
    // Without its warm-up load, the first real page starts the render process itself.
    panel = std::make_unique<QLPreviewPanel>(dark_, std::move(web_));
    break;
  case Stage::panel:
  case Stage::complete:
    // A window not yet laid out is laid out when it is shown.
    panel = std::move(panel_);
    break;
  }
  stage_ = Stage::none;
  started_ = false;
  return panel;
}

void SparePanel::discard() {
  timer_.stop();
  panel_.reset();
  web_.reset();
  stage_ = Stage::none;
  started_ = false;
}
