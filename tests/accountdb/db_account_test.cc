// The account storages on files in a temporary directory, and the listings of tables.
#include <gtest/gtest.h>

#include <sstream>

#include "db_account.h"
#include "db_table.h"
#include "test_support.h"

namespace vesk::test {
namespace {

const std::string kPasswd = "root:x:0:0:root:/root:/bin/bash\n+nis\n";
const std::string kShadow = "root:*:19000:0:99999:7:::\n+nis\n";
const std::string kCarol = "carol:x:1001:100:Carol:/home/carol:/bin/sh";

class DBAccountTest : public DBTest {
 protected:
  void SetUp() override {
    passwd_ = dir_ / "passwd";
    shadow_ = dir_ / "shadow";
    group_ = dir_ / "group";
    writeFile(passwd_, kPasswd);
    writeFile(shadow_, kShadow, 0640);
    writeFile(group_, "root:x:0:\nstaff:x:50:alice\n");
  }
  // No lock file, no temporary file, no lock held by the process.
  void expectNothingLocked() {
    for (const std::string& name : dir_.list()) {
      EXPECT_EQ(name.find(".lock"), std::string::npos) << name;
      EXPECT_EQ(name.find('+'), std::string::npos) << name;
    }
    EXPECT_EQ(DBFile::lockedFileCount(), 0);
  }

  std::string passwd_, shadow_, group_;
};

TEST_F(DBAccountTest, AddAppendsPasswdAndShadowRecordsBeforeCompatLines) {
  DBPwUser accounts(passwd_.c_str(), passwd_.c_str(), shadow_.c_str());
  ASSERT_TRUE(accounts.add(kCarol));
  EXPECT_EQ(readFile(passwd_), "root:x:0:0:root:/root:/bin/bash\n" + kCarol + "\n+nis\n");
  EXPECT_EQ(readFile(shadow_), "root:*:19000:0:99999:7:::\ncarol:*:::::::\n+nis\n");
  ASSERT_TRUE(accounts.add(kCarol));
  EXPECT_EQ(readFile(passwd_), "root:x:0:0:root:/root:/bin/bash\n" + kCarol + "\n" + kCarol + "\n+nis\n");
  EXPECT_EQ(readFile(shadow_), "root:*:19000:0:99999:7:::\ncarol:*:::::::\ncarol:*:::::::\n+nis\n");
  expectNothingLocked();
}

TEST_F(DBAccountTest, AddWithoutShadowFileChangesOnlyPasswd) {
  ASSERT_EQ(unlink(shadow_.c_str()), 0);
  DBPwUser accounts(passwd_.c_str(), passwd_.c_str(), shadow_.c_str());
  EXPECT_TRUE(accounts.add(kCarol));
  EXPECT_EQ(readFile(passwd_), "root:x:0:0:root:/root:/bin/bash\n" + kCarol + "\n+nis\n");
  EXPECT_FALSE(exists(shadow_));
  expectNothingLocked();
}

TEST_F(DBAccountTest, RemoveDeletesFirstRecordFromBothFiles) {
  DBPwUser accounts(passwd_.c_str(), passwd_.c_str(), shadow_.c_str());
  ASSERT_TRUE(accounts.add(kCarol));
  ASSERT_TRUE(accounts.add("carol:x:2002:100:Second:/:/bin/sh"));
  EXPECT_TRUE(accounts.remove("carol:other:9:9:fields:do:not-matter"));
  EXPECT_EQ(readFile(passwd_), "root:x:0:0:root:/root:/bin/bash\ncarol:x:2002:100:Second:/:/bin/sh\n+nis\n");
  EXPECT_EQ(readFile(shadow_), "root:*:19000:0:99999:7:::\ncarol:*:::::::\n+nis\n");
  expectNothingLocked();
}

TEST_F(DBAccountTest, RemoveOfUserWithoutShadowRecordRemovesPasswdLineAndFails) {
  writeFile(passwd_, kPasswd + kCarol + "\n");
  DBPwUser accounts(passwd_.c_str(), passwd_.c_str(), shadow_.c_str());
  EXPECT_FALSE(accounts.remove(kCarol));
  EXPECT_EQ(readFile(passwd_), "root:x:0:0:root:/root:/bin/bash\n+nis\n");
  EXPECT_EQ(readFile(shadow_), kShadow);
  expectNothingLocked();

  writeFile(passwd_, kPasswd + kCarol + "\n");
  ASSERT_EQ(unlink(shadow_.c_str()), 0);
  EXPECT_TRUE(accounts.remove(kCarol));  // no shadow file to change
  EXPECT_EQ(readFile(passwd_), "root:x:0:0:root:/root:/bin/bash\n+nis\n");
  expectNothingLocked();
}

TEST_F(DBAccountTest, UpdateReplacesPasswdRecordInPlaceOnly) {
  writeFile(passwd_, "root:x:0:0:root:/root:/bin/bash\n" + kCarol + "\ndaemon:x:1:1::/:/sbin/nologin\n");
  DBPwUser accounts(passwd_.c_str(), passwd_.c_str(), shadow_.c_str());
  EXPECT_TRUE(accounts.update("carol:x:1001:100:Carol Smith:/home/carol:/bin/bash"));
  EXPECT_EQ(readFile(passwd_),
            "root:x:0:0:root:/root:/bin/bash\ncarol:x:1001:100:Carol Smith:/home/carol:/bin/bash\n"
            "daemon:x:1:1::/:/sbin/nologin\n");
  EXPECT_EQ(readFile(shadow_), kShadow);
  expectNothingLocked();
}

TEST_F(DBAccountTest, RefusedChangesTouchNoFile) {
  DBPwUser accounts(passwd_.c_str(), passwd_.c_str(), shadow_.c_str());
  DBGrGroup groups(group_.c_str(), group_.c_str());
  const std::string groupBefore = readFile(group_);
  EXPECT_FALSE(accounts.update("ghost:x:1:1:::"));
  EXPECT_FALSE(accounts.remove("ghost:x:1:1:::"));
  for (const char* line : {"+carol", "carol:x:1001:100", "carol:x:1:1:::::", ":x:1:1:::"}) {
    EXPECT_FALSE(accounts.update(line)) << line;
    EXPECT_FALSE(accounts.add(line)) << line;
    EXPECT_FALSE(accounts.remove(line)) << line;
  }
  EXPECT_FALSE(groups.update("ghost:x:1:"));
  EXPECT_FALSE(groups.remove("ghost:x:1:"));
  for (const char* line : {"+staff", "staff:x:50", "staff:x:50:a:b"}) {
    EXPECT_FALSE(groups.update(line)) << line;
    EXPECT_FALSE(groups.add(line)) << line;
    EXPECT_FALSE(groups.remove(line)) << line;
  }
  EXPECT_EQ(readFile(passwd_), kPasswd);
  EXPECT_EQ(readFile(shadow_), kShadow);
  EXPECT_EQ(readFile(group_), groupBefore);
  EXPECT_EQ(dir_.list(), (std::vector<std::string>{"group", "passwd", "shadow"}));
  EXPECT_EQ(DBFile::lockedFileCount(), 0);
}

TEST_F(DBAccountTest, GroupsAreUpdatedAddedAndRemoved) {
  DBGrGroup groups(group_.c_str(), group_.c_str());
  EXPECT_TRUE(groups.update("staff:x:50:alice,bob"));
  EXPECT_TRUE(groups.add("build:x:1500:"));
  EXPECT_TRUE(groups.add("build:x:1501:"));
  EXPECT_TRUE(groups.remove("root:x:0:"));
  EXPECT_EQ(readFile(group_), "staff:x:50:alice,bob\nbuild:x:1500:\nbuild:x:1501:\n");
  expectNothingLocked();
}

TEST_F(DBAccountTest, ReadingGoesThroughTheFileMemberWithoutLocks) {
  DBPwUser accounts(shadow_.c_str(), passwd_.c_str(), shadow_.c_str());
  EXPECT_FALSE(accounts.isFile());
  EXPECT_TRUE(accounts.lock());
  EXPECT_FALSE(accounts.isLocked());
  EXPECT_FALSE(accounts.isOpen());
  ASSERT_TRUE(accounts.open());
  EXPECT_TRUE(accounts.isOpen());
  EXPECT_EQ(accounts.getRecord(), "root:*:19000:0:99999:7:::");
  EXPECT_TRUE(accounts.next());
  EXPECT_EQ(accounts.getRecord(), "+nis");
  EXPECT_FALSE(accounts.next());
  EXPECT_FALSE(accounts.hasRecord());
  EXPECT_TRUE(accounts.first());
  EXPECT_FALSE(accounts.write({"x"}));
  accounts.unlock();
  accounts.close();
  EXPECT_FALSE(accounts.isOpen());
  EXPECT_EQ(FakeSystemLock::lockCalls, 0);

  DBGrGroup groups(group_.c_str(), group_.c_str());
  ASSERT_TRUE(groups.open());
  EXPECT_EQ(groups.getRecord(), "root:x:0:");
}

TEST_F(DBAccountTest, ListingsShowFileNameRuleAndRecords) {
  writeFile(passwd_, "root:x:0:0:root:/root:/bin/bash\n# comment\n+nis\ndaemon:x:1:1::/:/sbin/nologin\n");
  DBOperator<DBPasswd, DBFile> users(passwd_);
  users.storage.setReadOnly(true);
  ASSERT_TRUE(users.storage.open());
  ASSERT_TRUE(users.load(users.storage));
  std::ostringstream out;
  out << tableOf(users);
  const std::string rule(60, '-');
  EXPECT_EQ(out.str(), "User File: " + passwd_ + "\n" + rule +
                           "\nroot:x:0:0:root:/root:/bin/bash\ndaemon:x:1:1::/:/sbin/nologin\n");

  DBGroupTable groups{"/etc/group", {}};
  groups.records.emplace_back();
  ASSERT_TRUE(groups.records.back().parse("staff:x:50:alice,bob"));
  std::ostringstream groupOut;
  groupOut << groups;
  EXPECT_EQ(groupOut.str(), "Group File: /etc/group\n" + rule + "\nstaff:x:50:alice,bob\n");
}

}  // namespace
}  // namespace vesk::test
