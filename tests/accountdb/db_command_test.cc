// The command-backed storages: how commands are run and announced, the snapshot they read, and
// update through an operator. The commands here are stand-ins that record their arguments.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "db_command.h"
#include "test_support.h"

namespace vesk::test {
namespace {

// A program that writes its arguments, each followed by a NUL byte, to $RECORD_FILE and exits
// with $RECORD_STATUS.
const char* kRecorder =
    "#!/bin/sh\n"
    "for a in \"$0\" \"$@\"; do printf '%s\\0' \"$a\"; done > \"$RECORD_FILE\"\n"
    "exit ${RECORD_STATUS:-0}\n";

std::vector<std::string> splitNul(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  return parts;
}

class DBCommandTest : public DBTest {
 protected:
  void SetUp() override {
    add_ = dir_ / "add";
    remove_ = dir_ / "remove";
    record_ = dir_ / "argv";
    writeFile(add_, kRecorder, 0755);
    writeFile(remove_, kRecorder, 0755);
    setenv("RECORD_FILE", record_.c_str(), 1);
    unsetenv("RECORD_STATUS");
    passwd_ = dir_ / "passwd";
    writeFile(passwd_, "root:x:0:0:root:/root:/bin/bash\n+nis\nbuild:x:1001:100::/home/build:/bin/sh\n-old\n");
  }
  void TearDown() override {
    unsetenv("RECORD_FILE");
    unsetenv("RECORD_STATUS");
  }
  DBCommandPrograms programs() const { return {nullptr, add_.c_str(), remove_.c_str()}; }
  std::vector<std::string> recorded() const { return exists(record_) ? splitNul(readFile(record_)) : std::vector<std::string>{}; }

  std::string add_, remove_, record_, passwd_;
};

// Each field reaches the command as one literal argument (an empty field as an empty one), and
// the command is announced on standard output and in the log.
TEST_F(DBCommandTest, CommandsGetEachFieldAsOneLiteralArgumentAndAreAnnounced) {
  DBPwCommand users(passwd_.c_str(), programs());
  DBGrCommand groups((dir_ / "group").c_str(), programs());
  struct Case {
    bool group;
    bool add;
    std::string line;
    std::vector<std::string> arguments;  // after the program
    std::string announced;               // between the parentheses, after the program
  };
  const std::vector<Case> cases = {
      {false, true, "build:x:1001:100:Build account:/home/build:/bin/sh",
       {"-u", "1001", "-g", "100", "-c", "Build account", "-d", "/home/build", "-s", "/bin/sh", "build"},
       " -u 1001 -g 100 -c Build account -d /home/build -s /bin/sh build "},
      {false, true, "ev;il:x:7:7:; rm -rf /:$(id):a'b`id`\" c|d&e>f *",
       {"-u", "7", "-g", "7", "-c", "; rm -rf /", "-d", "$(id)", "-s", "a'b`id`\" c|d&e>f *", "ev;il"},
       " -u 7 -g 7 -c ; rm -rf / -d $(id) -s a'b`id`\" c|d&e>f * ev;il "},
      {false, true, "bare:x:5:5:::", {"-u", "5", "-g", "5", "-c", "", "-d", "", "-s", "", "bare"},
       " -u 5 -g 5 -c  -d  -s  bare "},
      {false, false, "bare:ignored:1:1:x:y:z", {"bare"}, " bare "},
      {true, true, "staff:x:50:alice,bob", {"-g", "50", "staff"}, " -g 50 staff "},
      {true, false, "staff:x:50:", {"staff"}, " staff "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    log_.clear();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(c.group ? (c.add ? groups.add(c.line) : groups.remove(c.line))
                        : (c.add ? users.add(c.line) : users.remove(c.line)));
    const std::string program = c.add ? add_ : remove_;
    const std::string announcement = "executing command (" + program + c.announced + ")...";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), announcement + "\n");
    EXPECT_EQ(log_.records(), std::vector<std::string>{"1: " + announcement});
    std::vector<std::string> argv = c.arguments;
    argv.insert(argv.begin(), program);
    EXPECT_EQ(recorded(), argv);
  }
  EXPECT_FALSE(exists(dir_ / "f"));
}

TEST_F(DBCommandTest, FailingCommandIsLoggedWithItsStatus) {
  setenv("RECORD_STATUS", "9", 1);
  DBPwCommand users(passwd_.c_str(), programs());
  testing::internal::CaptureStdout();
  EXPECT_FALSE(users.remove("build:x:1001:100::/home/build:/bin/sh"));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(log_.records(), (std::vector<std::string>{"1: executing command (" + remove_ + " build )...",
                                                      "1: command (" + remove_ + " build ) failed, rc = 9."}));
}

TEST_F(DBCommandTest, LinesThatAreNoRecordsRunNothing) {
  DBPwCommand users(passwd_.c_str(), programs());
  DBGrCommand groups((dir_ / "group").c_str(), programs());
  testing::internal::CaptureStdout();
  for (const char* line : {"build:x:1001:100", "+build:x:1:1:::", ":x:1:1:::", "build:x:1:1::::"}) {
    EXPECT_FALSE(users.add(line)) << line;
    EXPECT_FALSE(users.remove(line)) << line;
    EXPECT_FALSE(users.update(line)) << line;
  }
  for (const char* line : {"staff:x", "+staff:x:50:", "staff:x:50::"}) {
    EXPECT_FALSE(groups.add(line)) << line;
    EXPECT_FALSE(groups.remove(line)) << line;
    EXPECT_FALSE(groups.update(line)) << line;
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(exists(record_));
}

TEST_F(DBCommandTest, SnapshotSkipsCompatLinesAndExistsOnlyWhileOpen) {
  DBPwCommand users(passwd_.c_str(), programs());
  EXPECT_FALSE(users.isFile());
  EXPECT_TRUE(users.lock());
  EXPECT_FALSE(users.isLocked());
  ASSERT_TRUE(users.open());
  const std::string snapshot = users.snapshotName();
  EXPECT_EQ(snapshot.rfind("/tmp/passwddb.", 0), 0u);
  EXPECT_TRUE(exists(snapshot));
  std::vector<std::string> records;
  for (bool more = users.hasRecord(); more; more = users.next()) records.push_back(users.getRecord());
  EXPECT_EQ(records, (std::vector<std::string>{"root:x:0:0:root:/root:/bin/bash",
                                               "build:x:1001:100::/home/build:/bin/sh"}));
  EXPECT_TRUE(users.first());
  EXPECT_EQ(users.getRecord(), "root:x:0:0:root:/root:/bin/bash");
  EXPECT_FALSE(users.write({"x"}));
  users.close();
  EXPECT_FALSE(exists(snapshot));
  EXPECT_FALSE(users.isOpen());
  EXPECT_EQ(users.getRecord(), "");
  users.unlock();

  writeFile(passwd_, "+\n-bob\n+alice:x:1:1:::\n");
  ASSERT_TRUE(users.open());
  EXPECT_FALSE(users.hasRecord());
  users.close();

  DBGrCommand missing((dir_ / "no-such-group").c_str(), programs());
  EXPECT_FALSE(missing.open());
  EXPECT_FALSE(missing.isOpen());
  EXPECT_FALSE(exists(missing.snapshotName()));
  EXPECT_TRUE(log_.records().empty());
}

TEST_F(DBCommandTest, UpdateEditsTheAccountFileThroughAnOperator) {
  DBPwCommand users(passwd_.c_str(), programs());
  EXPECT_TRUE(users.update("build:x:1001:100:Build:/srv/build:/bin/bash"));
  EXPECT_EQ(readFile(passwd_),
            "root:x:0:0:root:/root:/bin/bash\nbuild:x:1001:100:Build:/srv/build:/bin/bash\n+nis\n-old\n");
  EXPECT_FALSE(exists(record_));  // no command ran

  const std::string before = readFile(passwd_);
  unlink((passwd_ + "-").c_str());
  EXPECT_FALSE(users.update("ghost:x:1:1:::"));
  EXPECT_EQ(readFile(passwd_), before);
  EXPECT_FALSE(exists(passwd_ + "-"));
  EXPECT_FALSE(exists(passwd_ + ".lock"));

  const std::string group = dir_ / "group";
  writeFile(group, "staff:x:50:\n");
  DBGrCommand groups(group.c_str(), programs());
  EXPECT_TRUE(groups.update("staff:x:50:alice"));
  EXPECT_EQ(readFile(group), "staff:x:50:alice\n");
}

}  // namespace
}  // namespace vesk::test
