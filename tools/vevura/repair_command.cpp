// `vevura repair DIR TABLE [--backup DIR]`: the table made sound from its
// data file after a backup, with what changed and the verdict.

#include "engine/core/table_repair.h"
#include "engine/storage/file/table_file_names.h"
#include "tools/vevura/progress.h"
#include "tools/vevura/table_access.h"

namespace vevura::tool {
namespace {

int RunRepair(TInvocation& invocation) {
  TTableAccess access(invocation);
  const std::string& table = invocation.Positionals[1];
  access.RequireDataFile(table);
  access.RequirePassword(table);
  TRepairOptions options;
  options.BackupDirectory = invocation.Value("--backup");
  TTableRepairReport report;
  {
    TProgress progress(invocation.Err, invocation.Terminal.Progress, "repair", 100, 1);
    options.Progress = [&progress](int percent) { progress.Update(percent); };
    report = RepairTable(access.Directory(), table, options);
  }
  std::ostream& out = invocation.Out;
  const std::string name = TableNameWithoutExtension(table);
  if (!report.Changed) {
    if (report.Before.Clean()) {
      out << name << ": sound (" << report.Before.LiveRecords << " records); nothing was changed\n";
      return 0;
    }
    for (const std::string& problem : report.Before.Problems) out << problem << "\n";
    for (const std::string& line : report.Changes) out << line << "\n";
    out << name << ": cannot be repaired; nothing was changed\n";
    return 1;
  }
  if (!report.BackupDirectory.empty()) {
    out << "the table's files were copied to " << report.BackupDirectory << "\n";
  }
  for (const std::string& line : report.Changes) out << line << "\n";
  for (const std::string& problem : report.After.Problems) out << problem << "\n";
  if (report.Sound()) {
    out << name << ": repaired: sound (" << report.After.LiveRecords << " records, "
        << report.After.FreeSlots << " free slots)\n";
    return 0;
  }
  out << name << ": still damaged: " << report.After.ProblemCount
      << (report.After.ProblemCount == 1 ? " problem" : " problems") << " left\n";
  return 1;
}

}  // namespace

const TCommand kRepairCommand{
    "repair",
    "DIR TABLE [--backup DIR] [--password P]",
    "make a damaged table sound again from its data file",
    "Opens the table for this program alone (refused while another program has it\n"
    "open) and checks it. A sound table is left exactly as it is. Otherwise the\n"
    "table's three files are first copied to --backup DIR (default: a directory\n"
    "TABLE.repair-DATE-TIME beside the table), then every index is built anew from\n"
    "the records, and the active record count, the free record chain, the BLOB free\n"
    "list and the last auto-increment value are set from what the files hold.\n"
    "Records that cannot be read, and a partial record at the end of the data file,\n"
    "are moved to TABLE.lost in the backup directory; a BLOB whose chain is damaged\n"
    "is emptied. Each change is printed, then the check's verdict. Exit status 0\n"
    "when the table is sound afterwards, 1 when it is not.\n",
    2,
    {{"--backup", true}, kPasswordOption},
    RunRepair,
};

}  // namespace vevura::tool
