// DBEntry: one record of an account file, built from one line and turned back into one line.
#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace vesk {

// What a line of an account file is to a record type: a record, a "+"/"-" compatibility line, or
// anything else (a blank line, a comment, a line of the wrong field count, a record without a
// name). The last kind is kept verbatim by the operators.
enum class DBLineKind { Record, Compat, Other };

class DBEntry {
 public:
  DBEntry() = default;
  DBEntry(const DBEntry&) = default;
  DBEntry& operator=(const DBEntry&) = default;
  virtual ~DBEntry();

  // True when the entry holds no record (its name is empty).
  virtual bool isEmpty() const;
  // True when the last line given to parse was a "+" or "-" line.
  virtual bool isCompat() const;
  virtual void clear();
  // Fills the entry from one line of its file (without line end); true for a complete record.
  // Every failed parse leaves the name empty.
  virtual bool parse(const std::string& line) = 0;
  // The entry as one line of its file, without line end; empty when the name is empty.
  virtual std::string format() const = 0;

  std::string name;
};

// Writes format() of the entry, without a line end.
std::ostream& operator<<(std::ostream& out, const DBEntry& entry);
// Reads one line (the newline is consumed) and hands it to parse; test isEmpty() afterwards.
std::istream& operator>>(std::istream& in, DBEntry& entry);

}  // namespace vesk
