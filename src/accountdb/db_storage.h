// DBStorage: a source and sink of account records in text form.
//
// A storage is opened, optionally locked, read one record (one line, without its line end) at a
// time, and changed either as a whole (write) or one record at a time (update, add, remove).
// Failures are reported by a false result; a storage never throws on a failure of its own.
//
// The end of the data is a state of its own: hasRecord() is false only after the last line has
// been read, so an empty line inside a file is a current record like any other (with an empty
// text) and the lines after it are read as well.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vesk {

class DBStorage {
 public:
  explicit DBStorage(const char* path);
  DBStorage(const DBStorage&) = delete;
  DBStorage& operator=(const DBStorage&) = delete;
  virtual ~DBStorage();

  virtual bool isFile() const = 0;
  virtual void setReadOnly(bool value);
  virtual bool isReadOnly() const;
  virtual bool open() = 0;
  virtual void close();
  virtual bool isOpen() const;
  virtual bool lock() = 0;
  virtual void unlock() = 0;
  virtual bool isLocked() const;
  // Rewinds and makes the first record current; returns hasRecord().
  virtual bool first() = 0;
  // Makes the following record current; returns hasRecord().
  virtual bool next() = 0;
  // True while there is a current record (which may be an empty line).
  virtual bool hasRecord() const;
  // The current record's text; empty when there is none.
  virtual std::string getRecord() const;
  // Change one record, given as one line of the storage's file format. Base: false.
  virtual bool update(const std::string& line);
  virtual bool add(const std::string& line);
  virtual bool remove(const std::string& line);
  // Replaces the whole content by lines, in order. Base: false.
  virtual bool write(const std::vector<std::string>& lines);

  const std::string& getPath() const { return path; }

 protected:
  // Makes text the current record.
  void setRecord(std::string_view text);
  // Marks the end of the data: no current record, record empty.
  void setEndOfData();

  std::string path;
  bool readOnly = true;
  bool opened = false;
  bool locked = false;
  std::string record;
  bool current = false;  // there is a current record
};

}  // namespace vesk
