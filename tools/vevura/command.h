#pragma once
// The subcommands of `vevura` and what each one is handed.
//
// A subcommand is one .cpp file that defines a TCommand (its name, synopsis,
// help text, the options it takes and its function) and one entry in the
// dispatch table of vevura_tool.cpp. The dispatcher parses the command line
// against the command's options before calling it, so a command sees only
// well-formed arguments; it writes its data to Out, its diagnostics to Err,
// and returns the exit status (0 success, 1 failure). It reports a usage
// error by throwing TUsageError (exit status 2) and a failure by throwing
// any std::exception, whose message is printed (exit status 1): engine
// errors carry the engine's own message.

#include <functional>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vevura::tool {

//! A command line that does not fit the command: exit status 2.
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

//! What the program may do with a terminal; all off for in-process callers.
struct TTerminal {
  //! Draw progress bars on Err (standard error is a terminal).
  bool Progress = false;
  //! Asks for a table's password without echo; false when none was given.
  std::function<bool(const std::string& table, std::string* password)> ReadPassword;
};

//! One option a command takes.
struct TOptionDef {
  const char* Name;  //!< "--index"
  bool TakesValue;   //!< "--index NAME" or "--index=NAME"
};

//! A parsed command line and where its output goes.
struct TInvocation {
  std::vector<std::string> Positionals;        //!< in order
  std::map<std::string, std::string> Options;  //!< given options; "" for flags
  std::ostream& Out;                           //!< data
  std::ostream& Err;                           //!< diagnostics and progress
  const TTerminal& Terminal;                   //!< terminal services
  bool Has(const std::string& name) const { return Options.count(name) != 0; }
  //! The option's value; "" when not given.
  std::string Value(const std::string& name) const;
};

struct TCommand {
  const char* Name;      //!< "dump"
  const char* Synopsis;  //!< the arguments, "DIR TABLE [--quiet]"
  const char* Summary;   //!< one line for `vevura --help`
  const char* Details;   //!< the rest of `vevura NAME --help`
  size_t Positionals;    //!< positional arguments it needs, exactly
  std::vector<TOptionDef> Options;
  int (*Run)(TInvocation& invocation);
};

//! The option every command that opens a table takes.
inline constexpr TOptionDef kPasswordOption{"--password", true};

extern const TCommand kTablesCommand;
extern const TCommand kInfoCommand;
extern const TCommand kDumpCommand;
extern const TCommand kVerifyCommand;
extern const TCommand kRepairCommand;
extern const TCommand kExportCommand;
extern const TCommand kImportCommand;

}  // namespace vevura::tool
