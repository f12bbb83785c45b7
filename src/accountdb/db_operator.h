// DBOperator<Entry, Storage>: one account file in memory as records, with find, update, add,
// remove and a commit that writes the file back through the storage's safe replacement.
//
// Calling order: construct on the file's path; lockOpenLoad() (storage.lock() unless the storage
// is read-only, storage.open(), load(storage)); find, then update or remove, or add; commit(). Destroying the
// operator commits again, which writes pending changes and closes and unlocks the storage.
//
// Records keep their file order; added records come after all others, and the "+"/"-" lines of
// the file after those (when the file is rewritten). Unchanged lines, records or not, are written
// back byte for byte; only changed and added records are formatted. Names are unique only by
// convention: every look-up takes the first record of that name.
//
// Entry is DBPasswd, DBShadow or DBGroup (it needs a static classify, see db_records.h); Storage
// is DBFile here, or any DBStorage constructible from a path.
#pragma once

#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "db_file.h"
#include "db_line_table.h"
#include "db_storage.h"

namespace vesk {

template <typename Entry, typename Storage>
class DBOperator {
 public:
  // The storage is constructed on path, writable. Nothing is opened or locked.
  explicit DBOperator(const std::string& path) : storage(path.c_str()) {}
  DBOperator(const DBOperator&) = delete;
  DBOperator& operator=(const DBOperator&) = delete;
  virtual ~DBOperator() { commit(); }

  // The first steps of every use: takes the storage's lock (unless it is read-only), opens it and
  // loads its records. False when a step fails; commit or destruction releases what was taken.
  bool lockOpenLoad() {
    if (!storage.isReadOnly() && !storage.lock()) return false;
    return storage.open() && load(storage);
  }

  // Reads the records of source from its current record on (callers pass the own storage right
  // after opening it). False when source is not open.
  bool load(DBStorage& source) {
    changed_.clear();
    modified = false;
    return lines_.load(source, &Entry::classify);
  }

  // A copy of the first record named name, or a cleared record (isEmpty) when there is none. The
  // record's place is kept for an update of the same name that follows.
  Entry find(std::string_view name) {
    const std::size_t index = findIndex(name);
    found_ = Found{std::string(name), index, lines_.generation()};
    if (index == DBLineTable::kNone) {
      workEntry.clear();
      return workEntry;
    }
    const DBLineTable::Line& line = lines_.line(index);
    if (line.state >= 0) return changed_[static_cast<std::size_t>(line.state)];
    workEntry.parse(std::string(lines_.textOf(line)));
    return workEntry;
  }

  // Replaces the first record named entry.name by entry, in place. False when the storage is
  // read-only, no record has the name, or entry would not read back as the same record (a field
  // holding ":" or a line end).
  bool update(const Entry& entry) {
    if (storage.isReadOnly()) return false;
    const std::size_t index = findIndex(entry.name);
    if (index == DBLineTable::kNone || !writable(entry)) return false;
    DBLineTable::Line& line = lines_.line(index);
    if (line.state >= 0) {
      changed_[static_cast<std::size_t>(line.state)] = entry;
    } else {
      changed_.push_back(entry);
      line.state = static_cast<std::int32_t>(changed_.size() - 1);
    }
    modified = true;
    return true;
  }

  // Appends entry after all records, whether or not a record of that name exists. False when the
  // storage is read-only, the name is empty, or entry would not read back as the same record.
  bool add(const Entry& entry) {
    if (storage.isReadOnly() || entry.isEmpty() || !writable(entry)) return false;
    changed_.push_back(entry);
    lines_.appendChanged(static_cast<std::int32_t>(changed_.size() - 1));
    modified = true;
    return true;
  }

  // Removes the first record named entry.name; only the name of entry is used.
  bool remove(const Entry& entry) {
    if (storage.isReadOnly()) return false;
    const std::size_t index = findIndex(entry.name);
    if (index == DBLineTable::kNone) return false;
    lines_.line(index).state = DBLineTable::kRemoved;
    modified = true;
    return true;
  }

  // Writes the file back if a record changed, then closes and (unless read-only) unlocks the
  // storage and forgets all records, whatever the result. True when nothing had to be written or
  // the write succeeded.
  bool commit() noexcept {
    bool result = true;
    if (storage.isReadOnly() || !modified) {
      storage.close();
    } else {
      result = writeBack();
    }
    if (!storage.isReadOnly()) storage.unlock();
    lines_.clear();
    std::vector<Entry>().swap(changed_);
    modified = false;
    return result;
  }

  // Calls visit(record) for every record in file order (for listings).
  template <typename Visit>
  void forEachRecord(Visit visit) {
    lines_.forEachRecord(&Entry::classify, [&](std::string_view text, std::int32_t slot) {
      if (slot >= 0) {
        visit(static_cast<const Entry&>(changed_[static_cast<std::size_t>(slot)]));
        return;
      }
      Entry record;
      record.parse(std::string(text));
      visit(static_cast<const Entry&>(record));
    });
  }

 private:
  std::size_t findIndex(std::string_view name) {
    // The place that the last find gave, unless lines moved or the record was removed since.
    if (found_.index != DBLineTable::kNone && found_.generation == lines_.generation() && found_.name == name &&
        lines_.line(found_.index).state != DBLineTable::kRemoved) {
      return found_.index;
    }
    return lines_.findRecord(name, &Entry::classify,
                             [this](std::int32_t slot) -> const std::string& { return changed_[slot].name; });
  }

  // The record reads back from its line as a record of the same name.
  static bool writable(const Entry& entry) {
    const std::string text = entry.format();
    if (text.find('\n') != std::string::npos) return false;
    if (Entry::classify(text) != DBLineKind::Record) return false;
    return std::string_view(text).substr(0, entry.name.size() + 1) == entry.name + ":";
  }

  bool writeBack() noexcept {
    try {
      std::vector<std::string> formatted;
      formatted.reserve(changed_.size());
      for (const Entry& entry : changed_) formatted.push_back(entry.format());
      if constexpr (std::is_base_of_v<DBFile, Storage>) {
        std::vector<std::string_view> pieces;
        lines_.pieces(formatted, pieces);
        return storage.writeText(pieces);
      } else {
        std::vector<std::string> lines;
        lines_.lines(formatted, lines);
        return storage.write(lines);
      }
    } catch (const std::bad_alloc&) {
      storage.close();
      return false;
    }
  }

  struct Found {
    std::string name;
    std::size_t index = DBLineTable::kNone;
    std::uint64_t generation = 0;
  };

  DBLineTable lines_;            // the file's lines, records and compatibility lines
  Found found_;                  // the place of the last find
  std::vector<Entry> changed_;   // changed and added records
  Entry workEntry;               // the record that find parses into

 public:
  Storage storage;

 private:
  bool modified = false;
};

}  // namespace vesk
