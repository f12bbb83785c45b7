#pragma once

#include <memory>

#include "logger.h"

// The tarvenko personality: drops set-user-ID privileges, parses the options, applies the argument
// rules and runs one operation. Returns the exit status.
int tarvenkoMain(int argc, char** argv, const std::shared_ptr<vesk::Logger>& logger);
