// The pages tell what the code does: every key of pn.h has a row of the settings table, the agent's
// defaults are the table's, the generated kestrova.conf(5) and example settings hold every key with
// its default, kestrovad(8) covers kestrovad --help, and kestrova-passwd(1) says what goes to the
// system's passwd.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "server_settings.h"
#include "logger.h"
#include "settings_table.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The output of a command, with runs of blanks and line ends made one blank.
std::string commandText(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  pclose(pipe);
  return std::regex_replace(text, std::regex("\\s+"), " ");
}

std::string renderedPage(const std::string& path) {
  return commandText("MANWIDTH=2000 man -l '" + path + "' 2>&1 | col -b");
}

TEST(SettingsTruth, EveryKeyOfTheCodeHasOneRow) {
  const std::string names = readFile(KESTROVA_PN_H);
  std::set<std::string> keys;
  const std::regex keyPattern("constexpr const char\\* [A-Z_]+ = \"([^\"]+)\";");
  for (std::sregex_iterator it(names.begin(), names.end(), keyPattern), end; it != end; ++it) keys.insert((*it)[1]);
  ASSERT_GT(keys.size(), 20u);
  for (const std::string& key : keys) EXPECT_NE(vesk::findSettingRow(key), nullptr) << key << " has no row";
  EXPECT_EQ(std::size(vesk::kSettingRows), keys.size()) << "pn.h and the table differ in their number of keys";
}

TEST(SettingsTruth, TheAgentsDefaultsAreTheTables) {
  using vesk::settingDefaultNumber;
  namespace PN = vesk::PN;
  const vesk::agentd::ServerSettings agent;
  EXPECT_EQ(agent.kdcTimeout.count(), settingDefaultNumber(PN::AGENT_KDC_TIMEOUT_MS));
  EXPECT_EQ(agent.probeTimeout.count(), settingDefaultNumber(PN::AGENT_PROBE_TIMEOUT_MS));
  EXPECT_EQ(agent.realm.transport.serverWait.count(), settingDefaultNumber(PN::AGENT_KDC_SERVER_WAIT_MS));
  EXPECT_EQ(agent.realm.transport.messageLimit.count(), settingDefaultNumber(PN::AGENT_KDC_MESSAGE_TIMEOUT_MS));
  EXPECT_EQ(agent.realm.transport.holdoff.count(), settingDefaultNumber(PN::AGENT_KDC_HOLDOFF_MS));
  EXPECT_EQ(agent.idleTimeout.count(), settingDefaultNumber(PN::AGENT_IDLE_TIMEOUT_MS));
  EXPECT_EQ(agent.firstRequestTimeout.count(), settingDefaultNumber(PN::AGENT_FIRST_REQUEST_TIMEOUT_MS));
  EXPECT_EQ(static_cast<long>(agent.maxConnections), settingDefaultNumber(PN::AGENT_MAX_CONNECTIONS));
  EXPECT_EQ(static_cast<long>(agent.maxConnectionsPerUid), settingDefaultNumber(PN::AGENT_MAX_CONNECTIONS_PER_UID));
  EXPECT_EQ(static_cast<long>(vesk::Logger::kDefaultRootLevel), settingDefaultNumber(PN::LOG_LEVEL));
  EXPECT_EQ(static_cast<long>(vesk::Logger::kDefaultRootMemoryLevel), settingDefaultNumber(PN::LOG_MEMLEVEL));
}

TEST(SettingsTruth, GeneratedPagesHoldEveryKeyWithItsDefault) {
  const std::string page = renderedPage(KESTROVA_BINARY_DIR "/man/kestrova.conf.5");
  const std::string example = readFile(KESTROVA_BINARY_DIR "/docs/kestrova.conf");
  for (const vesk::SettingRow& row : vesk::kSettingRows) {
    const std::string key = std::string(row.key) + (std::string(row.key).ends_with('.') ? "NAME" : "");
    const std::string value = row.fallback != nullptr ? row.fallback : row.example;
    const bool blanks = value.front() == ' ' || value.back() == ' ';
    const std::string shown = blanks ? "\"" + value + "\"" : value;
    EXPECT_NE(example.find("\n#" + key + ": " + shown + "\n"), std::string::npos) << key << " in the example";
    EXPECT_NE(page.find(" " + key + " "), std::string::npos) << key << " in kestrova.conf(5)";
    if (row.fallback != nullptr) {
      const std::string normalised = std::regex_replace(shown, std::regex("\\s+"), " ");
      EXPECT_NE(page.find("Default: " + normalised), std::string::npos) << key << "'s default in kestrova.conf(5)";
    }
  }
}

TEST(ManPages, KestrovadPageCoversEveryCommandAndOptionOfItsHelp) {
  const std::string help = commandText(KESTROVAD " --help");
  const std::string page = renderedPage(KESTROVA_SOURCE_DIR "/man/kestrovad.8");
  std::smatch usage;
  ASSERT_TRUE(std::regex_search(help, usage, std::regex("usage: kestrovad ([^\\n]*?) The")));
  const std::string words = usage[1];
  const std::regex word("[-a-z]+");
  int seen = 0;
  for (std::sregex_iterator it(words.begin(), words.end(), word), end; it != end; ++it, ++seen) {
    EXPECT_NE(page.find(" kestrovad " + it->str()), std::string::npos) << it->str() << " not in kestrovad(8)";
  }
  EXPECT_GE(seen, 5);
}

TEST(ManPages, PasswdPageNamesWhatGoesToTheSystemsPasswd) {
  const std::string page = renderedPage(KESTROVA_SOURCE_DIR "/man/kestrova-passwd.1");
  for (const char* option : {"-S", "-l", "-u", "-e", "-d", "-n", "-x", "-w", "-i"}) {
    EXPECT_NE(page.find(std::string(option) + ","), std::string::npos) << option << " in kestrova-passwd(1)";
  }
  EXPECT_NE(page.find("/usr/bin/passwd.distrib"), std::string::npos);
  EXPECT_EQ(page.find("Any other option is an error"), std::string::npos);
}

}  // namespace
