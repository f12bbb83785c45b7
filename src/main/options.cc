#include "options.h"

#include <getopt.h>
#include <string.h>

#include <iostream>

#include "shredder.h"

namespace {

const struct option kLongOptions[] = {
    {"adminuser", required_argument, nullptr, 'a'},
    {"adminpass", required_argument, nullptr, 'p'},
    {"validate", no_argument, nullptr, 'V'},
    {"oldpass", required_argument, nullptr, 'o'},
    {"newpass", required_argument, nullptr, 'n'},
    {"version", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"debug", no_argument, nullptr, 'D'},
    {nullptr, 0, nullptr, 0},
};

// Moves a password argument into a Shredder and overwrites the argument in place.
vesk::Shredder takePassword(char* argument) {
  vesk::Shredder value(argument);
  vesk::wipeMemory(argument, strlen(argument));
  return value;
}

}  // namespace

void printUsage(std::ostream& out) {
  out << "usage: tarvenko [options] [user[@domain]]\n"
         "options:\n"
         "  -a, --adminuser user[@domain] administrator account\n"
         "  -p, --adminpass pw       administrator password\n"
         "  -V, --validate           validate user password\n"
         "  -o, --oldpass pw         current user password\n"
         "  -n, --newpass pw         new user password\n"
         "  -v, --version            print version information\n"
         "  -h, --help               print this help information and exit.\n";
  out.flush();
}

ParseOutcome parseOptions(int argc, char** argv, PasswordRequest& request, int* operands) {
  opterr = 0;
  optind = 1;
  for (;;) {
    const int option = getopt_long_only(argc, argv, "a:p:Vo:n:vhD", kLongOptions, nullptr);
    if (option == -1) break;
    switch (option) {
      case 'a':
        request.adminUser = optarg;
        break;
      case 'p':
        request.adminPassword = takePassword(optarg);
        request.adminPasswordGiven = true;
        break;
      case 'o':
        request.oldPassword = takePassword(optarg);
        request.oldPasswordGiven = true;
        break;
      case 'n':
        if (*optarg != '\0') {
          request.newPassword = takePassword(optarg);
          request.newPasswordGiven = true;
        }
        break;
      case 'V':
        request.validate = true;
        break;
      case 'v':
        std::cout << kVersionText << std::endl;
        return ParseOutcome::kVersion;
      case 'h':
        printUsage(std::cout);
        return ParseOutcome::kHelp;
      case 'D':
        request.debug = true;
        break;
      default:
        printUsage(std::cout);
        return ParseOutcome::kUsage;
    }
  }
  *operands = argc - optind;
  if (*operands >= 1) request.user = argv[optind];
  return ParseOutcome::kRun;
}
