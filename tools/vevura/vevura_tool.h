#pragma once
// RunVevura: the whole `vevura` command, callable in-process.
//
// main.cpp passes the program's arguments, standard output and error and the
// terminal services (progress bars, password prompts); tests call it with
// string streams and no terminal. It returns the exit status: 0 success,
// 1 failure (the message on err), 2 a usage error (the message and the
// command's usage on err).

#include <ostream>
#include <string>
#include <vector>

#include "tools/vevura/command.h"

namespace vevura::tool {

//! Runs `vevura args...` (args without the program name).
int RunVevura(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const TTerminal& terminal = TTerminal{});

}  // namespace vevura::tool
