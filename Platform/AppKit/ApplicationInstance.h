// ApplicationInstance: one running instance of the application per user. The first launch
// holds a name derived from the bundle identifier: a D-Bus name on the session bus (where the
// instance answers org.freedesktop.Application.Activate), or, without a session bus, a lock
// file and a local socket under $XDG_RUNTIME_DIR. A later launch finds the holder and asks it
// to reopen. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

class ApplicationInstance {
public:
  enum class Outcome {
    primary,    // this process is the running instance
    handedOver, // another instance runs and was asked to reopen
    unreachable // another instance runs but did not answer
  };

  // Claims the instance for `identifier` (a reverse-DNS bundle identifier). As the primary,
  // `onReopen` runs on the main thread for each later launch; the returned object keeps the
  // claim for as long as it lives.
  static std::unique_ptr<ApplicationInstance>
  claim(const std::string& identifier, std::function<void()> onReopen, Outcome& outcome);
  virtual ~ApplicationInstance() = default;

  // The D-Bus name and object path the instance uses for `identifier`.
  static std::string busName(const std::string& identifier);
  static std::string objectPath(const std::string& identifier);
  // The socket the instance listens on when there is no session bus.
  static std::string socketPath(const std::string& identifier);
};
