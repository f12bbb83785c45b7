// Bringing the process's settings into force.
#pragma once

#include "props.h"

namespace vesk {

// Reads the settings file (again), hands the settings to the loggers and logs each malformed line
// of the file on "vesk.props". Every program calls it once at its start, before it logs.
Properties& loadSettings();

}  // namespace vesk
