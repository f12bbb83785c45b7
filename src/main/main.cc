// Process entry: the personality is chosen by the base name the program was started under.
#include <libgen.h>
#include <string.h>

#include <string>

#include "logger.h"
#include "passwd_main.h"
#include "settings.h"
#include "tarvenko_main.h"

int main(int argc, char** argv) {
  vesk::loadSettings();
  auto logger = vesk::Logger::GetLogger("cli.tarvenko");
  std::string invoked = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  const std::string base = basename(invoked.data());
  if (base == "passwd") return passwdMain(argc, argv);
  return tarvenkoMain(argc, argv, logger);
}
