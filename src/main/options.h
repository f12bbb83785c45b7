// Command line of the tarvenko personality.
#pragma once

#include <ostream>

#include "password_request.h"

inline constexpr const char* kVersionText = "Kestrova 4.4.3-424";

void printUsage(std::ostream& out);

// What the command line asks for once parsed.
enum class ParseOutcome {
  kRun,      // go on with the request
  kVersion,  // the version line was printed
  kHelp,     // the usage text was printed
  kUsage,    // an unknown option or a missing argument: usage printed
};

// Parses argv into request. Password arguments are copied and then wiped in argv. On kRun, the
// first operand (if any) is the request's user and *operands holds the count of operands.
ParseOutcome parseOptions(int argc, char** argv, PasswordRequest& request, int* operands);
