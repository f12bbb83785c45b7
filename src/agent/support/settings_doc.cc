// Build-time generator of the settings documentation from settings_table.h:
//   settings_doc man TEMPLATE OUT    kestrova.conf(5): each line "@SETTINGS SECTION@" becomes the keys
//                                    of SECTION as a tagged list with their defaults;
//   settings_doc conf TEMPLATE OUT   the example settings: each such line becomes the keys of
//                                    SECTION, commented out, each with its meaning above it.
// Fails when a section of the table is missing from the template or named twice, so that no key
// can be left out of either.
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "settings_table.h"

namespace {

constexpr std::string_view kMarkerStart = "@SETTINGS ";
constexpr std::size_t kConfWidth = 100;

bool isPrefixKey(const vesk::SettingRow& row) { return std::string_view(row.key).ends_with('.'); }

// Text for roff: backslashes and hyphens escaped, no line starting with a control character.
std::string roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

// A value as the settings file would hold it: in double quotes when it has blanks at either end.
std::string quoted(const std::string& value) {
  if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) return "\"" + value + "\"";
  return value;
}

void manRows(std::ostream& out, std::string_view section) {
  for (const vesk::SettingRow& row : vesk::kSettingRows) {
    if (section != row.section) continue;
    out << ".TP\n";
    if (isPrefixKey(row)) out << ".BI " << roff(row.key) << " NAME\n";
    else out << ".B " << roff(row.key) << "\n";
    out << roff(row.meaning) << "\n";
    if (row.fallback == nullptr) continue;
    const std::string value = row.fallback;
    if (quoted(value) != value) out << "Default:\n.RB \\(dq \"" << roff(value) << "\" \\(dq.\n";
    else out << "Default:\n.BR \"" << roff(value) << "\" .\n";
  }
}

void confRows(std::ostream& out, std::string_view section) {
  bool first = true;
  for (const vesk::SettingRow& row : vesk::kSettingRows) {
    if (section != row.section) continue;
    if (!first) out << "\n";
    first = false;
    std::istringstream words(row.meaning);
    std::string word;
    std::string line = "#";
    while (words >> word) {
      if (line.size() + 1 + word.size() > kConfWidth) {
        out << line << "\n";
        line = "#";
      }
      line += " " + word;
    }
    out << line << "\n";
    const std::string key = isPrefixKey(row) ? std::string(row.key) + "NAME" : row.key;
    out << "#" << key << ": " << quoted(row.fallback != nullptr ? row.fallback : row.example) << "\n";
  }
}

int generate(const std::string& mode, const std::string& templatePath, const std::string& outPath) {
  std::ifstream in(templatePath);
  if (!in) {
    std::cerr << "settings_doc: cannot read " << templatePath << "\n";
    return 1;
  }
  std::ostringstream out;
  std::set<std::string> placed;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.starts_with(kMarkerStart) || !line.ends_with('@')) {
      out << line << "\n";
      continue;
    }
    const std::string section = line.substr(kMarkerStart.size(), line.size() - kMarkerStart.size() - 1);
    if (!placed.insert(section).second) {
      std::cerr << "settings_doc: " << templatePath << " names section " << section << " twice\n";
      return 1;
    }
    if (mode == "man") manRows(out, section);
    else confRows(out, section);
  }
  for (const vesk::SettingRow& row : vesk::kSettingRows) {
    if (placed.count(row.section) == 0) {
      std::cerr << "settings_doc: " << templatePath << " has no place for section " << row.section << " (key "
                << row.key << ")\n";
      return 1;
    }
  }
  std::ofstream file(outPath);
  file << out.str();
  file.close();
  if (!file) {
    std::cerr << "settings_doc: cannot write " << outPath << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::string(argv[1]) != "man" && std::string(argv[1]) != "conf")) {
    std::cerr << "usage: settings_doc man|conf TEMPLATE OUT\n";
    return 2;
  }
  return generate(argv[1], argv[2], argv[3]);
}
