// qlpanelagent: the per-user preview panel host. The session bus starts it on the first
// `qlmanage -p` (see --install); it keeps the web engine and a pre-warmed web view ready, shows
// each caller's documents in a panel of their own, and quits after a while with no panel open.
// A process of its own rather than part of the preview server: the server stays a small
// process without a window system or web engine, which a crashing page cannot take down, and
// the agent needs the caller's display, which the server never does.

#include "QuickLookService/IdleTimeout.h"
#include "QuickLookService/PanelAgentNames.h"
#include "QuickLookService/QuitWhenBusCloses.h"
#include "QuickLookService/ServiceInstallation.h"
#include "QuickLookService/TerminationSignals.h"
#include "QuickLookUI/PanelAgent.h"
#include "QuickLookUI/PanelEngine.h"

#include <QApplication>
#include <QDBusConnection>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

namespace fs = std::filesystem;

namespace {

const char* const kUsage =
    "usage: qlpanelagent [--idle-timeout SECONDS]\n"
    "       qlpanelagent --install | --uninstall\n"
    "  --idle-timeout SECONDS  quit after this long with no panel open (default 300;\n"
    "                          also LUMIVALE_PANEL_AGENT_IDLE_TIMEOUT)\n"
    "  --install               let the session bus start this agent on demand\n"
    "                          ($XDG_DATA_HOME/dbus-1/services/)\n"
    "  --uninstall             remove that again\n";

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "qlpanelagent: " << message << "\n" << kUsage;
  std::exit(2);
}

double parseSeconds(const std::string& text) {
  if (std::optional<double> seconds = parseIdleSeconds(text))
    return *seconds;
  usageError("the idle time-out needs a number of seconds from 0 to 86400");
}

} // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  double idleSeconds = 300;
  if (const char* value = std::getenv("LUMIVALE_PANEL_AGENT_IDLE_TIMEOUT"); value && *value)
    idleSeconds = parseSeconds(value);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--idle-timeout") {
      if (i + 1 >= argc)
        usageError(arg + " needs a value");
      idleSeconds = parseSeconds(argv[++i]);
    } else if (arg == "--install" || arg == "--uninstall") {
      std::error_code ec;
      const fs::path self = fs::read_symlink("/proc/self/exe", ec);
      try {
        if (arg == "--install")
          std::cout << ServiceInstallation::installServiceFile(ServiceInstallation::dataHome(),
                                                               PanelAgentNames::kService,
                                                               ec ? fs::path(argv[0]) : self)
                           .string()
                    << "\n";
        else
          ServiceInstallation::uninstallServiceFile(ServiceInstallation::dataHome(),
                                                    PanelAgentNames::kService);
      } catch (const std::exception& e) {
        std::cerr << "qlpanelagent: " << e.what() << "\n";
        return 1;
      }
      return 0;
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else {
      usageError("unknown option " + arg);
    }
  }

  PanelEngine::prepare();
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const bool dark = PanelEngine::configure();
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    std::cerr << "qlpanelagent: no session bus\n";
    return 1;
  }
  int status = 0;
  {
    PanelAgent agent(dark, std::chrono::milliseconds(static_cast<long long>(idleSeconds * 1000)));
    QString error;
    if (!agent.publish(bus, error)) {
      std::cerr << "qlpanelagent: " << error.toStdString() << "\n";
      return 1;
    }
    quitWhenBusCloses(bus);
    TerminationSignals termination([&agent] { agent.terminate(); });
    status = application.exec();
  }
  return status;
}
