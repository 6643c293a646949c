// The dispatcher of `vevura`: the table of subcommands, the general help, the
// parsing of a command's arguments and the mapping of errors to exit statuses.

#include "tools/vevura/vevura_tool.h"

#include <algorithm>
#include <exception>

namespace vevura::tool {
namespace {

//! Every subcommand, in the order `vevura --help` lists them.
const TCommand* const kCommands[] = {
    &kTablesCommand, &kInfoCommand,   &kDumpCommand,   &kVerifyCommand,
    &kRepairCommand, &kExportCommand, &kImportCommand,
};

constexpr int kUsageStatus = 2;
constexpr int kFailureStatus = 1;

const TCommand* FindCommand(const std::string& name) {
  for (const TCommand* command : kCommands) {
    if (name == command->Name) return command;
  }
  return nullptr;
}

void WriteGeneralHelp(std::ostream& out) {
  out << "usage: vevura COMMAND ARGUMENTS...\n"
         "Looks inside the tables of a directory, checks them and takes them elsewhere.\n\n"
         "commands:\n";
  size_t width = 0;
  for (const TCommand* command : kCommands)
    width = std::max(width, std::string(command->Name).size());
  for (const TCommand* command : kCommands) {
    out << "  " << command->Name << std::string(width + 2 - std::string(command->Name).size(), ' ')
        << command->Summary << "\n";
  }
  out << "\n`vevura COMMAND --help` describes a command.\n";
}

void WriteUsage(const TCommand& command, std::ostream& out) {
  out << "usage: vevura " << command.Name << " " << command.Synopsis << "\n";
}

void WriteCommandHelp(const TCommand& command, std::ostream& out) {
  WriteUsage(command, out);
  out << command.Summary << "\n\n" << command.Details;
}

const TOptionDef* FindOption(const TCommand& command, const std::string& name) {
  for (const TOptionDef& option : command.Options) {
    if (name == option.Name) return &option;
  }
  return nullptr;
}

//! Fills invocation from the arguments after the command name; TUsageError
//! for an unknown option, a missing value, a repeated option or the wrong
//! number of positional arguments.
void ParseArguments(const TCommand& command, const std::vector<std::string>& args,
                    TInvocation& invocation) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      invocation.Positionals.push_back(arg);
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const TOptionDef* option = FindOption(command, name);
    if (option == nullptr) throw TUsageError("unknown option " + name);
    if (invocation.Has(name)) throw TUsageError(name + " is given twice");
    std::string value;
    if (option->TakesValue) {
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        throw TUsageError(name + " needs a value");
      }
    } else if (equals != std::string::npos) {
      throw TUsageError(name + " takes no value");
    }
    invocation.Options[name] = value;
  }
  if (invocation.Positionals.size() != command.Positionals) {
    throw TUsageError(invocation.Positionals.size() < command.Positionals ? "missing arguments"
                                                                          : "too many arguments");
  }
}

}  // namespace

std::string TInvocation::Value(const std::string& name) const {
  auto found = Options.find(name);
  return found == Options.end() ? std::string() : found->second;
}

int RunVevura(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const TTerminal& terminal) {
  if (args.empty()) {
    WriteGeneralHelp(err);
    return kUsageStatus;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    WriteGeneralHelp(out);
    return 0;
  }
  const TCommand* command = FindCommand(args[0]);
  if (command == nullptr) {
    err << "vevura: unknown command " << args[0] << "\n";
    WriteGeneralHelp(err);
    return kUsageStatus;
  }
  if (std::find(args.begin() + 1, args.end(), "--help") != args.end()) {
    WriteCommandHelp(*command, out);
    return 0;
  }
  TInvocation invocation{{}, {}, out, err, terminal};
  try {
    ParseArguments(*command, args, invocation);
    const int status = command->Run(invocation);
    out.flush();
    return status;
  } catch (const TUsageError& e) {
    err << "vevura " << command->Name << ": " << e.what() << "\n";
    WriteUsage(*command, err);
    return kUsageStatus;
  } catch (const std::exception& e) {
    out.flush();
    err << "vevura " << command->Name << ": " << e.what() << "\n";
    return kFailureStatus;
  }
}

}  // namespace vevura::tool
