#include "AppKit/DesktopAppearance.h"
#include "AppKit/NSAppleEventManager.h"
#include "AppKit/NSApplication.h"
#include "AppKit/NSButton.h"
#include "AppKit/NSTextField.h"
#include "AppKit/NSWindow.h"
#include "Dispatch/DispatchQueue.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace {

NSApplication& application() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  return NSApplication::sharedApplication();
}

bool spinUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

class Receiver : public NSObject {
public:
  int clicks = 0;
  void clicked() { ++clicks; }
};

} // namespace

TEST(AppKitTest, FramesMapFromBottomLeftToQt) {
  application();
  auto view = std::make_shared<NSView>(NSMakeRect(0, 0, 500, 310));
  auto label = NSTextField::labelWithString("x");
  label->setFrame(NSMakeRect(24, 258, 452, 28));
  view->addSubview(label);
  EXPECT_EQ(label->widget()->geometry(), QRect(24, 310 - 258 - 28, 452, 28));
  // The superview growing keeps the distance to its bottom.
  view->setFrame(NSMakeRect(0, 0, 500, 400));
  EXPECT_EQ(label->widget()->geometry(), QRect(24, 400 - 258 - 28, 452, 28));
  label->setFrame(NSMakeRect(0, 0, 10, 10));
  EXPECT_EQ(label->widget()->geometry(), QRect(0, 390, 10, 10));
  label->removeFromSuperview();
  EXPECT_TRUE(view->subviews().empty());
  EXPECT_EQ(label->superview(), nullptr);
}

TEST(AppKitTest, LabelsArePlainTextAndFollowThePalette) {
  application();
  auto label = NSTextField::wrappingLabelWithString("<b>not bold</b> & 100%");
  EXPECT_EQ(label->label()->textFormat(), Qt::PlainText);
  EXPECT_TRUE(label->label()->wordWrap());
  EXPECT_EQ(label->stringValue(), "<b>not bold</b> & 100%");
  EXPECT_FALSE(NSTextField::labelWithString("a")->label()->wordWrap());
  label->setTextColor(NSColor::secondaryLabelColor());
  const QColor before = label->label()->palette().color(QPalette::WindowText);
  const QPalette original = QApplication::palette();
  QPalette dark = original;
  dark.setColor(QPalette::WindowText, Qt::white);
  dark.setColor(QPalette::Window, Qt::black);
  QApplication::setPalette(dark);
  QCoreApplication::processEvents();
  const QColor after = label->label()->palette().color(QPalette::WindowText);
  QApplication::setPalette(original);
  EXPECT_NE(before, after);
  EXPECT_EQ(after.rgb(), QColor(Qt::white).rgb());
  EXPECT_LT(after.alphaF(), 1.0) << "secondary text is the label colour at part strength";
  label->setFont(NSFont::systemFontOfSize(26, NSFontWeightSemibold));
  EXPECT_EQ(label->label()->font().pixelSize(), 26);
  EXPECT_EQ(label->label()->font().weight(), QFont::DemiBold);
}

TEST(AppKitTest, ButtonTargetActionEnabledAndReturn) {
  application();
  Receiver receiver;
  auto button = NSButton::buttonWithTitle("Close");
  button->performClick(); // no target, no action: nothing
  button->setTarget(&receiver);
  button->setAction(&Receiver::clicked);
  button->performClick();
  EXPECT_EQ(receiver.clicks, 1);
  button->setEnabled(false);
  button->performClick();
  EXPECT_EQ(receiver.clicks, 1) << "a disabled button does nothing";

  NSWindow window(NSMakeRect(0, 0, 300, 200), 7u, NSBackingStoreBuffered, false);
  auto view = std::make_shared<NSView>(NSMakeRect(0, 0, 300, 200));
  button->setKeyEquivalent("\r");
  view->addSubview(button);
  window.setContentView(view);
  window.makeKeyAndOrderFront(nullptr);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(window.widget(), &press);
  EXPECT_EQ(receiver.clicks, 1) << "Return does not click a disabled button";
  button->setEnabled(true);
  QKeyEvent again(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(window.widget(), &again);
  EXPECT_EQ(receiver.clicks, 2);
}

TEST(AppKitTest, WindowsHideWhenClosedAndComeBack) {
  application();
  NSWindow window(NSMakeRect(0, 0, 560, 320), 7u, NSBackingStoreBuffered, false);
  window.setTitle("Lumivale Quick Look");
  window.center();
  window.makeKeyAndOrderFront(nullptr);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.widget()->size(), QSize(560, 320));
  EXPECT_EQ(window.widget()->minimumSize(), window.widget()->maximumSize()) << "not resizable";
  EXPECT_TRUE(window.widget()->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(window.widget()->windowFlags() & Qt::WindowMaximizeButtonHint);
  window.performClose(nullptr);
  EXPECT_FALSE(window.isVisible());
  window.performClose(nullptr);
  window.makeKeyAndOrderFront(nullptr);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(NSApplication::sharedApplication().keyWindow(), window.widget());

  NSWindow plain(NSMakeRect(0, 0, 100, 100), NSWindowStyleMaskTitled, NSBackingStoreBuffered,
                 false);
  plain.makeKeyAndOrderFront(nullptr);
  plain.performClose(nullptr);
  EXPECT_TRUE(plain.isVisible()) << "a window without a close button cannot be closed so";
}

TEST(AppKitTest, MainQueueRunsOnTheEventLoop) {
  application();
  std::vector<int> order;
  const std::thread::id mainThread = std::this_thread::get_id();
  std::atomic<bool> onMain{false};
  std::thread([&] {
    DispatchQueue::main().async([&] {
      onMain = std::this_thread::get_id() == mainThread;
      order.push_back(1);
    });
  }).join();
  const auto start = std::chrono::steady_clock::now();
  DispatchQueue::main().asyncAfter(std::chrono::milliseconds(200), [&] { order.push_back(3); });
  DispatchQueue::main().async([&] { order.push_back(2); });
  ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(onMain);
}

TEST(AppKitTest, AppleEventsReachInstalledHandlers) {
  application();
  struct Handler {
    int opens = 0;
    bool sawCurrent = false;
    void open(const NSAppleEventDescriptor& event, NSAppleEventDescriptor&) {
      ++opens;
      sawCurrent = NSAppleEventManager::sharedAppleEventManager().currentAppleEvent() &&
                   NSAppleEventManager::sharedAppleEventManager().currentAppleEvent()->eventID() ==
                       event.eventID();
    }
  } handler;
  NSAppleEventManager& manager = NSAppleEventManager::sharedAppleEventManager();
  const auto event = NSAppleEventDescriptor::appleEvent(kCoreEventClass, kAEOpenApplication);
  EXPECT_FALSE(manager.dispatch(event));
  manager.setEventHandler(&handler, &Handler::open, kCoreEventClass, kAEOpenApplication);
  EXPECT_TRUE(manager.dispatch(event));
  EXPECT_EQ(handler.opens, 1);
  EXPECT_TRUE(handler.sawCurrent);
  EXPECT_EQ(manager.currentAppleEvent(), nullptr);
  manager.removeEventHandler(kCoreEventClass, kAEOpenApplication);
  EXPECT_EQ(fourCharCode("oapp"), 0x6F617070u);
}

TEST(AppKitTest, DarkPreferenceSwitchesThePaletteAndBack) {
  application();
  const QPalette desktop = QApplication::palette();
  ASSERT_GT(desktop.color(QPalette::Window).lightness(), 128) << "offscreen starts light";
  auto label = NSTextField::labelWithString("x");
  label->setTextColor(NSColor::labelColor());
  DesktopAppearance::applyPreference(true);
  QCoreApplication::processEvents();
  EXPECT_LT(QApplication::palette().color(QPalette::Window).lightness(), 128);
  EXPECT_GT(label->label()->palette().color(QPalette::WindowText).lightness(), 128)
      << "label text turns light on the dark palette";
  DesktopAppearance::applyPreference(std::nullopt);
  QCoreApplication::processEvents();
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), desktop.color(QPalette::Window));
  EXPECT_LT(label->label()->palette().color(QPalette::WindowText).lightness(), 128);
}
