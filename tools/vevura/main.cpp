// `vevura`: the companion command for tables (see vevura_tool.h).

#include <iostream>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tools/vevura/vevura_tool.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  vevura::tool::TTerminal terminal;
  terminal.Progress = vevura::platform::StandardErrorIsTerminal();
  if (vevura::platform::StandardInputIsTerminal()) {
    terminal.ReadPassword = [](const std::string& table, std::string* password) {
      return vevura::platform::ReadHiddenLine("Password for table " + table + ": ", password);
    };
  }
  const std::vector<std::string> args(argv + 1, argv + argc);
  return vevura::tool::RunVevura(args, std::cout, std::cerr, terminal);
}
