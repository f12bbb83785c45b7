// Bringing the process's settings into force.
#pragma once

#include "props.h"

namespace vesk {

// Reads the settings file (again), hands the settings to the loggers, and says on standard error
// and on "vesk.props" when the file was not used; logs each malformed line of the file. Every program calls it once at its start, before it logs.
Properties& loadSettings();

}  // namespace vesk
