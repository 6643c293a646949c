// `vevura verify DIR TABLE`: the whole-table check with a verdict.

#include "engine/core/table_verify.h"
#include "engine/storage/file/table_file_names.h"
#include "tools/vevura/progress.h"
#include "tools/vevura/table_access.h"

namespace vevura::tool {
namespace {

int RunVerify(TInvocation& invocation) {
  TTableAccess access(invocation);
  const std::string& table = invocation.Positionals[1];
  access.RequireDataFile(table);
  access.RequirePassword(table);
  TTableVerifyReport report;
  {
    TProgress progress(invocation.Err, invocation.Terminal.Progress, "verify", 100, 1);
    report = VerifyTable(access.Directory(), table, false,
                         [&progress](int percent) { progress.Update(percent); });
  }
  if (invocation.Has("--quiet")) return report.Clean() ? 0 : 1;
  std::ostream& out = invocation.Out;
  const std::string name = TableNameWithoutExtension(table);
  for (const std::string& problem : report.Problems) out << problem << "\n";
  if (report.Clean()) {
    out << name << ": sound (" << report.LiveRecords << " records, " << report.FreeSlots
        << " free slots)\n";
    return 0;
  }
  out << name << ": damaged: " << report.ProblemCount
      << (report.ProblemCount == 1 ? " problem" : " problems") << " found\n";
  return 1;
}

}  // namespace

const TCommand kVerifyCommand{
    "verify",
    "DIR TABLE [--quiet] [--password P]",
    "check a table's files and how they agree",
    "Checks the data, index and BLOB files of the table and how they agree (headers,\n"
    "records, every index tree and its entries, the record slots, the word index, the\n"
    "BLOB chains). Prints each problem on a line, then the verdict. Exit status 0 when\n"
    "the table is sound, 1 when it is not. --quiet prints nothing.\n"
    "The check changes nothing; a shared table is read-locked meanwhile.\n",
    2,
    {{"--quiet", false}, kPasswordOption},
    RunVerify,
};

}  // namespace vevura::tool
