#pragma once

#include <memory>
#include <ostream>

#include "logger.h"

// True when the host is joined to a domain. Otherwise writes "Machine is not joined to any domain."
// to out (when out is in a good state), logs it at level 4 and returns false.
bool checkJoined(const std::shared_ptr<vesk::Logger>& logger, std::ostream& out);
