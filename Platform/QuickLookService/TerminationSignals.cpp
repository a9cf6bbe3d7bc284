#include "QuickLookService/TerminationSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Which of them this process handles: a signal it was started ignoring (nohup) stays ignored.
bool handled[std::size(kSignals)] = {};

// The pipe from the signal handler to the main thread's event loop.
int pipeEnds[2] = {-1, -1};

void onSignal(int) {
  // Only what is safe in a signal handler: one byte into a non-blocking pipe.
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
  errno = saved;
}

void setAction(void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kSignals); ++i)
    if (handled[i])
      ::sigaction(kSignals[i], &action, nullptr);
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
  if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipeEnds[0] = pipeEnds[1] = -1;
    return; // the default actions stay: the process ends at once
  }
  notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char bytes[16];
    while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
    }
    if (signalled_)
      return;
    signalled_ = true;
    setAction(SIG_DFL, 0);
    onSignal_();
  });
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    struct sigaction current {};
    handled[i] = ::sigaction(kSignals[i], nullptr, &current) == 0 && current.sa_handler != SIG_IGN;
  }
  // Once the first signal is in, every default action is back: a second one ends the process.
  setAction(::onSignal, SA_RESTART | SA_RESETHAND);
}

TerminationSignals::~TerminationSignals() {
  if (pipeEnds[0] < 0)
    return;
  setAction(SIG_DFL, 0);
  delete notifier_;
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  pipeEnds[0] = pipeEnds[1] = -1;
}
