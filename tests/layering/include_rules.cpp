#include "tests/layering/include_rules.h"

#include <algorithm>
#include <fstream>
#include <set>

namespace vevura::layering {
namespace fs = std::filesystem;

namespace {

// Folders under the top that hold no product code.
const std::set<std::string> kUnchecked = {"build", "tests", "bench", "scripts"};

bool Skipped(const fs::path& relative) {
  std::string first = relative.begin()->string();
  return first.starts_with(".") || kUnchecked.contains(first);
}

bool IsSource(const fs::path& path) {
  std::string name = path.filename().string();
  return name.ends_with(".h") || name.ends_with(".cpp") || name.ends_with(".h.in");
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The cells of a table row "| a | b |", trimmed.
std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::string rest = Trim(line);
  if (!rest.starts_with("|") || !rest.ends_with("|") || rest.size() < 2) return cells;
  rest = rest.substr(1, rest.size() - 2);
  size_t at = 0;
  while (true) {
    size_t bar = rest.find('|', at);
    cells.push_back(Trim(rest.substr(at, bar - at)));
    if (bar == std::string::npos) break;
    at = bar + 1;
  }
  return cells;
}

// The backticked names of a cell; none for "—".
std::vector<std::string> Names(const std::string& cell) {
  std::vector<std::string> names;
  for (size_t open = cell.find('`'); open != std::string::npos;) {
    size_t close = cell.find('`', open + 1);
    if (close == std::string::npos) break;
    if (close > open + 1) names.push_back(cell.substr(open + 1, close - open - 1));
    open = cell.find('`', close + 1);
  }
  return names;
}

// The target of an include line: "path" for a quoted include, "<header>" for
// a system one; "" when the line is no include.
std::string IncludeTarget(const std::string& line) {
  size_t at = line.find_first_not_of(" \t");
  if (at == std::string::npos || line[at] != '#') return "";
  at = line.find_first_not_of(" \t", at + 1);
  if (at == std::string::npos || line.compare(at, 7, "include") != 0) return "";
  at = line.find_first_not_of(" \t", at + 7);
  if (at == std::string::npos) return "";
  const char close = line[at] == '"' ? '"' : line[at] == '<' ? '>' : '\0';
  size_t end = close == '\0' ? std::string::npos : line.find(close, at + 1);
  if (end == std::string::npos) return "";
  return line.substr(at, end - at + 1);
}

bool Within(const std::string& path, const std::string& folder) {
  return path.starts_with(folder + "/");
}

enum class TTable { kNone, kFolders, kHeaders };

void ReadReadme(const fs::path& top, const fs::path& readme, TLayerRules& rules) {
  std::ifstream in(readme);
  std::string where = fs::relative(readme, top).string();
  TTable table = TTable::kNone;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::vector<std::string> cells = Cells(line);
    if (cells.empty()) {
      table = TTable::kNone;
    } else if (cells == std::vector<std::string>{"folder", "may include"}) {
      table = TTable::kFolders;
    } else if (cells == std::vector<std::string>{"header", "only in"}) {
      table = TTable::kHeaders;
    } else if (table == TTable::kNone || cells[0].starts_with("---")) {
      continue;
    } else if (cells.size() != 2 || Names(cells[0]).empty() ||
               (Names(cells[1]).empty() && cells[1] != "—")) {
      rules.problems.push_back(where + ":" + std::to_string(number) + ": malformed row");
    } else if (table == TTable::kFolders && Names(cells[0]).size() == 1) {
      rules.folders.push_back({Names(cells[0])[0], Names(cells[1])});
    } else if (table == TTable::kHeaders) {
      for (const std::string& header : Names(cells[0]))
        rules.headers.push_back({header, Names(cells[1])});
    } else {
      rules.problems.push_back(where + ":" + std::to_string(number) + ": one folder per row");
    }
  }
}

// The row that governs path: the deepest folder containing it, or nullptr.
const TFolderRule* RuleOf(const TLayerRules& rules, const std::string& path) {
  const TFolderRule* best = nullptr;
  for (const TFolderRule& rule : rules.folders) {
    if (Within(path, rule.folder) && (best == nullptr || rule.folder.size() > best->folder.size()))
      best = &rule;
  }
  return best;
}

// Checks one include of file (governed by rule); "" when it is allowed.
std::string QuotedIncludeProblem(const fs::path& top, const TFolderRule& rule,
                                 const std::string& target) {
  if (target.find('/') == std::string::npos || !fs::exists(top / target)) {
    // Generated headers exist only in the build tree, beside a ".in" template.
    if (!fs::exists(top / (target + ".in")))
      return "\"" + target + "\" does not name a file from the top of the tree";
  }
  if (Within(target, rule.folder)) return "";
  for (const std::string& allowed : rule.allowed) {
    if (Within(target, allowed)) return "";
  }
  return "\"" + target + "\": " + rule.folder + " may not include from there";
}

std::string SystemIncludeProblem(const TLayerRules& rules, const std::string& path,
                                 const std::string& header) {
  for (const THeaderRule& rule : rules.headers) {
    bool match =
        rule.header.ends_with("/") ? header.starts_with(rule.header) : header == rule.header;
    if (!match) continue;
    bool allowed = std::any_of(rule.only_in.begin(), rule.only_in.end(),
                               [&](const std::string& folder) { return Within(path, folder); });
    if (!allowed) return header + " is only for " + rule.only_in.front();
  }
  return "";
}

void CheckFile(const fs::path& top, const TLayerRules& rules, const std::string& path,
               std::vector<std::string>& violations) {
  const TFolderRule* rule = RuleOf(rules, path);
  if (rule == nullptr) {
    violations.push_back(path + ":1: no README row covers its folder");
    return;
  }
  std::ifstream in(top / path);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string target = IncludeTarget(line);
    if (target.empty()) continue;
    std::string problem =
        target.front() == '"'
            ? QuotedIncludeProblem(top, *rule, target.substr(1, target.size() - 2))
            : SystemIncludeProblem(rules, path, target);
    if (!problem.empty())
      violations.push_back(path + ":" + std::to_string(number) + ": " + problem);
  }
}

}  // namespace

TLayerRules ReadLayerRules(const fs::path& top) {
  TLayerRules rules;
  std::vector<fs::path> readmes;
  for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator();
       ++it) {
    fs::path relative = fs::relative(it->path(), top);
    if (Skipped(relative)) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file() && it->path().filename() == "README.md" && relative != "README.md")
      readmes.push_back(it->path());
  }
  std::sort(readmes.begin(), readmes.end());
  for (const fs::path& readme : readmes) ReadReadme(top, readme, rules);
  return rules;
}

std::vector<std::string> CheckLayering(const fs::path& top) {
  TLayerRules rules = ReadLayerRules(top);
  std::vector<std::string> violations = rules.problems;
  std::set<std::string> roots;
  for (const TFolderRule& rule : rules.folders)
    roots.insert(rule.folder.substr(0, rule.folder.find('/')));
  std::vector<std::string> files;
  for (const std::string& root : roots) {
    if (!fs::is_directory(top / root)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(top / root)) {
      if (entry.is_regular_file() && IsSource(entry.path()))
        files.push_back(fs::relative(entry.path(), top).string());
    }
  }
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) CheckFile(top, rules, file, violations);
  return violations;
}

}  // namespace vevura::layering
