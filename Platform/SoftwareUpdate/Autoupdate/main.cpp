// Autoupdate: finishes an installation once the application has quit (see SUAutoupdate.h).
#include "SoftwareUpdate/SUAutoupdate.h"

int main(int argc, char** argv) {
  return SUAutoupdateMain(argc, argv);
}
