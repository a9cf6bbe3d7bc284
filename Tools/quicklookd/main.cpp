// quicklookd: the per-user preview server. The session bus starts it on the first preview
// request (see --install); it keeps one process per preview extension warm, answers previews
// for qlmanage and the panel, and quits after a while with nothing to do.

#include "QuickLookService/IdleTimeout.h"
#include "QuickLookService/PreviewServer.h"
#include "QuickLookService/QuitWhenBusCloses.h"
#include "QuickLookService/ServiceInstallation.h"
#include "QuickLookService/TerminationSignals.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

namespace fs = std::filesystem;

namespace {

const char* const kUsage =
    "usage: quicklookd [--app APP] [--idle-timeout SECONDS]\n"
    "       quicklookd --install | --uninstall\n"
    "  --app APP               the app bundle whose extensions serve the previews\n"
    "                          (default: the one beside quicklookd)\n"
    "  --idle-timeout SECONDS  quit after this long without requests (default 120;\n"
    "                          also LUMIVALE_QUICKLOOKD_IDLE_TIMEOUT)\n"
    "  --install               let the session bus start this server on demand\n"
    "                          ($XDG_DATA_HOME/dbus-1/services/)\n"
    "  --uninstall             remove that again\n";

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "quicklookd: " << message << "\n" << kUsage;
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
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  fs::path app = (ec ? fs::current_path() : self.parent_path()) / "Lumivale Quick Look.app";
  double idleSeconds = 120;
  if (const char* value = std::getenv("LUMIVALE_QUICKLOOKD_IDLE_TIMEOUT"); value && *value)
    idleSeconds = parseSeconds(value);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc)
        usageError(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--app") {
      app = value();
    } else if (arg == "--idle-timeout") {
      idleSeconds = parseSeconds(value());
    } else if (arg == "--install" || arg == "--uninstall") {
      try {
        if (arg == "--install")
          std::cout << ServiceInstallation::installServiceFile(ServiceInstallation::dataHome(),
                                                               ec ? fs::path(argv[0]) : self)
                           .string()
                    << "\n";
        else
          ServiceInstallation::uninstallServiceFile(ServiceInstallation::dataHome());
      } catch (const std::exception& e) {
        std::cerr << "quicklookd: " << e.what() << "\n";
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

  QCoreApplication application(argc, argv);
  std::unique_ptr<PreviewExtensionChooser> chooser;
  try {
    chooser = std::make_unique<ExtensionCatalogChooser>(app);
  } catch (const std::exception& e) {
    std::cerr << "quicklookd: " << e.what() << "\n";
    return 1;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    std::cerr << "quicklookd: no session bus\n";
    return 1;
  }
  PreviewServer server(app, std::move(chooser),
                       std::chrono::milliseconds(static_cast<long long>(idleSeconds * 1000)));
  QString error;
  if (!server.publish(bus, error)) {
    std::cerr << "quicklookd: " << error.toStdString() << "\n";
    return 1;
  }
  quitWhenBusCloses(bus);
  TerminationSignals termination([&server] { server.leave(); });
  return application.exec();
}
