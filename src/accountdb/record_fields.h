// Field splitting and number conversion shared by the three record types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "db_entry.h"

namespace vesk::db {

// Splits line at ':' into fields, storing at most maxFields of them. Returns the number of fields
// read: maxFields + 1 when the line holds more than maxFields. Nothing is trimmed; an empty line is
// one empty field.
std::size_t splitFields(std::string_view line, std::string_view* fields, std::size_t maxFields);

// The decimal number at the start of field, as atol reads it: leading white space, an optional
// sign, digits up to the first other character; no digits give 0. Values beyond 64 bits wrap
// around (two's complement), so that every formatted number reads back as itself.
std::int64_t parseNumber(std::string_view field);

// The kind of line for a record type of fieldCount fields (see DBLineKind), decided exactly as the
// record types' parse decides it.
DBLineKind classifyLine(std::string_view line, std::size_t fieldCount);

// The end of every parse, once name holds the first of count fields: a name that starts with '+'
// or '-' makes a compatibility line (compat is set), a line of other than fieldCount fields no
// record; name is cleared unless the line is a record. Returns whether it is one.
bool finishParse(std::string& name, bool& compat, std::size_t count, std::size_t fieldCount);

void appendSigned(std::string& out, std::int64_t value);
void appendUnsigned(std::string& out, std::uint64_t value);

}  // namespace vesk::db
